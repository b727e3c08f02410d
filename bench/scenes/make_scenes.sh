#!/bin/sh
# Makes the labelled scene set of the detection benchmark with ffmpeg's own generators and
# filters: a drawn room, sensor noise, light changes, leaves in a window, walking figures and
# a pet. 768x576, 10 fps, 30 s each. Writes the clips and manifest.tsv into the given folder
# (default: build/bench-scenes); nothing here is downloaded and no video is committed.
#
# manifest.tsv columns: name, label ("warning" or "none"), seconds at which the figure
# enters the picture (or -), mask polygons for the check (or -), what the scene shows.
set -eu
out=${1:-build/bench-scenes}
mkdir -p "$out"
W=768 H=576 FPS=10 DUR=30
ff() { ffmpeg -hide_banner -loglevel error -y "$@"; }

# The room: wall, floor, window, sofa, table, picture, door, a fixed fine texture.
ff -f lavfi -i "color=c=0x9c9484:s=${W}x${H}" -vf "\
drawbox=x=0:y=400:w=$W:h=176:c=0x6a5a48:t=fill,\
drawbox=x=470:y=60:w=220:h=170:c=0xc8d8e8:t=fill,\
drawbox=x=470:y=60:w=220:h=170:c=0x5a4a3a:t=6,\
drawbox=x=577:y=60:w=6:h=170:c=0x5a4a3a:t=fill,\
drawbox=x=40:y=300:w=260:h=130:c=0x70504a:t=fill,\
drawbox=x=40:y=280:w=260:h=40:c=0x60403a:t=fill,\
drawbox=x=330:y=380:w=120:h=60:c=0x503828:t=fill,\
drawbox=x=120:y=90:w=110:h=80:c=0x4a6a80:t=fill,\
drawbox=x=120:y=90:w=110:h=80:c=0x2a2a2a:t=4,\
drawbox=x=620:y=180:w=110:h=230:c=0x7a6450:t=fill,\
noise=alls=5" -frames:v 1 "$out/room.png"

# A walking figure as overlays: head, torso, two arms and two legs swinging in opposite
# phase. figure SIZE FEET_Y X0 SPEED T0 T1 -> inputs and a filter chain on [room].
figure() {
    s=$1 feet=$2 x0=$3 v=$4 t0=$5 t1=$6
    hd=$((s * 16 / 100)) tw=$((s * 26 / 100)) th=$((s * 38 / 100))
    lw=$((s * 9 / 100)) lh=$((s * 46 / 100)) aw=$((s * 7 / 100)) ah=$((s * 34 / 100))
    top=$((feet - s))
    X="($x0+$v*(t-$t0))"
    FIG_INPUTS="-f lavfi -i color=c=0xc89f80:s=${hd}x${hd}:r=$FPS \
-f lavfi -i color=c=0x2a3550:s=${tw}x${th}:r=$FPS \
-f lavfi -i color=c=0x202428:s=${lw}x${lh}:r=$FPS \
-f lavfi -i color=c=0x202428:s=${lw}x${lh}:r=$FPS \
-f lavfi -i color=c=0x2a3550:s=${aw}x${ah}:r=$FPS \
-f lavfi -i color=c=0x2a3550:s=${aw}x${ah}:r=$FPS"
    en="enable='between(t,$t0,$t1)'"
    sw="sin(2*PI*1.6*t)"
    cx="$X+$((tw / 2))"
    FIG_CHAIN="[0][1]overlay=x='$cx-$((hd / 2))':y=$top:$en[f1];\
[f1][2]overlay=x='$X':y=$((top + hd)):$en[f2];\
[f2][3]overlay=x='$cx-$((lw / 2))+$((s * 12 / 100))*$sw':y=$((feet - lh)):$en[f3];\
[f3][4]overlay=x='$cx-$((lw / 2))-$((s * 12 / 100))*$sw':y=$((feet - lh)):$en[f4];\
[f4][5]overlay=x='$X-$aw-$((s * 6 / 100))*$sw':y=$((top + hd + 4)):$en[f5];\
[f5][6]overlay=x='$X+$tw+$((s * 6 / 100))*$sw':y=$((top + hd + 4)):$en"
}

NIGHT="eq=brightness=-0.3:contrast=0.45"
ENC="-c:v libx264 -preset veryfast -crf 18 -pix_fmt yuv420p -g 20 -r $FPS -t $DUR"

# scene NAME LABEL ENTER MASK DESCRIPTION FILTERS-AFTER-ROOM
scene() {
    name=$1 label=$2 enter=$3 mask=$4 what=$5 post=$6
    ff -loop 1 -framerate $FPS -i "$out/room.png" -vf "$post" $ENC "$out/$name.mp4"
    printf '%s\t%s\t%s\t%s\t%s\n' "$name" "$label" "$enter" "$mask" "$what" >>"$out/manifest.tsv"
}

# figure_scene NAME ENTER DESCRIPTION SIZE FEET X0 SPEED T0 T1 POST
figure_scene() {
    name=$1 enter=$2 what=$3
    figure "$4" "$5" "$6" "$7" "$8" "$9"
    post=${10}
    ff -loop 1 -framerate $FPS -i "$out/room.png" $FIG_INPUTS \
        -filter_complex "$FIG_CHAIN,$post" $ENC "$out/$name.mp4"
    printf '%s\t%s\t%s\t%s\t%s\n' "$name" "warning" "$enter" "-" "$what" >>"$out/manifest.tsv"
}

: >"$out/manifest.tsv"
scene noise_gain1 none - - "still room, light sensor noise" "noise=alls=6:allf=t"
scene noise_gain2 none - - "dim room, medium sensor noise" "eq=brightness=-0.15:contrast=0.7,noise=alls=18:allf=t"
scene noise_gain3 none - - "dark room at night, strong sensor noise" "$NIGHT,noise=alls=34:allf=t"
scene light_switch none - - "lamp switched off and on every 5 s" \
    "eq=eval=frame:brightness='if(lt(mod(t,10),5),0,-0.2)':contrast='if(lt(mod(t,10),5),1,0.55)',noise=alls=8:allf=t"
scene cloud_ramp none - - "slow cloud-like brightness ramp" \
    "eq=eval=frame:contrast='0.6+0.4*(0.5+0.5*cos(2*PI*t/30))':brightness='-0.12*(0.5-0.5*cos(2*PI*t/30))',noise=alls=6:allf=t"
scene exposure_pump none - - "auto-exposure pumping, 2 s period" \
    "eq=eval=frame:contrast='1+0.2*sin(2*PI*t/2)':brightness='0.06*sin(2*PI*t/2)',noise=alls=6:allf=t"
scene colour_steps none - - "white-balance steps every 4 s" \
    "eq=eval=frame:gamma_r='if(lt(mod(t,8),4),1,1.3)':gamma_b='if(lt(mod(t,8),4),1,0.75)':gamma_g='if(lt(mod(t,12),6),1,1.1)',noise=alls=6:allf=t"

# Leaves swaying in the window (masked for the check).
leaves=""
chain="[0]null[l0]"
i=1
for k in 0 1 2 3 4 5; do
    leaves="$leaves -f lavfi -i color=c=0x3a7a30:s=44x30:r=$FPS"
    cxk=$((490 + k * 30)) cyk=$((80 + (k % 3) * 45))
    chain="$chain;[l$((i - 1))][$i]overlay=x='$cxk+28*sin(2*PI*t/1.3+$k)':y='$cyk+18*sin(2*PI*t/0.9+2*$k)'[l$i]"
    i=$((i + 1))
done
ff -loop 1 -framerate $FPS -i "$out/room.png" $leaves \
    -filter_complex "$chain;[l6]noise=alls=6:allf=t" $ENC "$out/leaves_window.mp4"
printf '%s\t%s\t%s\t%s\t%s\n' leaves_window none - \
    "0.600,0.090 0.910,0.090 0.910,0.415 0.600,0.415" "leaves moving in the window (masked)" \
    >>"$out/manifest.tsv"

figure_scene person_day 12 "a person crossing by day" 330 500 -100 140 12 20 "noise=alls=6:allf=t"
figure_scene person_night 12 "a person crossing at night through strong noise" 330 500 -100 140 12 20 \
    "$NIGHT,noise=alls=34:allf=t"
figure_scene person_near 12 "a person crossing near the camera" 540 575 -170 220 12 17 "noise=alls=6:allf=t"
figure_scene person_far 12 "a person crossing far away" 160 405 -45 90 12 22 "noise=alls=6:allf=t"

# A pet-sized object trotting along the floor, twice.
ff -loop 1 -framerate $FPS -i "$out/room.png" \
    -f lavfi -i "color=c=0x3a2a20:s=64x34:r=$FPS" -f lavfi -i "color=c=0x3a2a20:s=22x20:r=$FPS" \
    -filter_complex "[0][1]overlay=x='-70+120*mod(t-8,15)':y=470+3*sin(2*PI*3*t):enable='gte(t,8)'[p];\
[p][2]overlay=x='-70+120*mod(t-8,15)+60':y=458+3*sin(2*PI*3*t):enable='gte(t,8)',noise=alls=6:allf=t" \
    $ENC "$out/pet.mp4"
printf '%s\t%s\t%s\t%s\t%s\n' pet none - - "a pet-sized object crossing the floor twice" \
    >>"$out/manifest.tsv"
echo "scenes in $out"
