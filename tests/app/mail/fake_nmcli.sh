#!/bin/sh
# A stand-in nmcli for the mail tests (FakeNmcli in MailServers.h), linked as "nmcli" into a
# folder first on PATH: lists the entries of the file "entries" beside it, records every call
# in "calls", and brings a connection up after the seconds and with the exit code in "up".
here=$(dirname "$0")
printf '%s\n' "$*" >> "$here/calls"
case "$*" in
  '-t -f NAME connection show') sed -e 's/:/\\:/g' "$here/entries"; exit 0 ;;
  *' connection up id '*) read -r delay result < "$here/up"; sleep "$delay"; exit "$result" ;;
  *' connection down id '*) exit 0 ;;
esac
exit 2
