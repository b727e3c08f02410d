/* A C99 program that uses the core library through its header alone. */
#include "QuorCore.h"

#include <stdio.h>
#include <string.h>
#include <unistd.h>

static int failures = 0;

#define CHECK(cond)                                                                  \
    do {                                                                             \
        if (!(cond)) {                                                               \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            ++failures;                                                              \
        }                                                                            \
    } while (0)

int main(int argc, char** argv) {
    QvDEVICEINFO info;
    QvSTARTUPDEVICEINFO start;
    unsigned long value = 42;
    char name[] = "Quorvex Demo Camera";
    char line[] = "header_c was here";
    char bmpPath[512];
    unsigned char pixel[3] = {1, 2, 3};
    FILE* f;
    long size;
    int device;

    if (argc > 1 && chdir(argv[1]) != 0) return 2;
    CHECK(sizeof(BITMAPINFOHEADER) == 40);
    CHECK(QV_FOURCC_YUY2 == 0x32595559u);
    CHECK(QvStartup() == 1);
    CHECK(QvStartup() == 0);
    CHECK(QvGetDeviceCount() >= 1);
    device = QvGetDeviceNo(name);
    CHECK(device >= 0);
    CHECK(QvGetDeviceInfo(&info, device) == 1);
    CHECK(strcmp(info.szDeviceName, name) == 0);
    CHECK(QvGetCurDevice() == -1);
    /* No Qt application in this program: the capture window cannot exist, and says so. */
    start.hwndNotify = NULL;
    start.hwndParent = NULL;
    CHECK(QvStartupDevice(&start, device) == 0);
    CHECK(QvGetDeviceState(QV_DS_MOTION_LEVEL, &value) == 0);
    CHECK(value == 42);
    CHECK(QvIsCapturing() == 0);
    QvCoreLogOutputFile(line);
    snprintf(bmpPath, sizeof bmpPath, "header_c.bmp");
    QvCoreSaveBMP(bmpPath, pixel, 1, 1);
    f = fopen(bmpPath, "rb");
    CHECK(f != NULL);
    if (f) {
        fseek(f, 0, SEEK_END);
        size = ftell(f);
        fclose(f);
        CHECK(size == 58);
    }
    CHECK(QvCleanup() == 1);
    CHECK(QvCleanup() == 0);
    if (failures == 0) printf("header_c: all checks passed\n");
    return failures == 0 ? 0 : 1;
}
