/* A C99 program that uses the core library through its header alone. */
#include "QuorCore.h"

#include <stdio.h>
#include <string.h>
#include <unistd.h>

static int failures = 0;

#define CHECK(cond)                                                                           \
    ((cond) ? (void)0                                                                         \
            : (void)(fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond), \
                     ++failures))

int main(int argc, char** argv) {
    QvDEVICEINFO info;
    QvSTARTUPDEVICEINFO start = {NULL, NULL};
    unsigned long value = 42;
    char name[] = "Quorvex Demo Camera", line[] = "header_c was here", bmpPath[] = "header_c.bmp";
    unsigned char pixel[3] = {1, 2, 3};
    if (argc > 1 && chdir(argv[1]) != 0) return 2;
    CHECK(sizeof(BITMAPINFOHEADER) == 40);
    CHECK(QV_FOURCC_YUY2 == 0x32595559u);
    CHECK(QvStartup() == 1);
    CHECK(QvStartup() == 0);
    CHECK(QvGetDeviceCount() >= 1);
    int device = QvGetDeviceNo(name);
    CHECK(device >= 0);
    CHECK(QvGetDeviceInfo(&info, device) == 1);
    CHECK(strcmp(info.szDeviceName, name) == 0);
    CHECK(QvGetCurDevice() == -1);
    /* No Qt application in this program: the capture window cannot exist, and says so. */
    CHECK(QvStartupDevice(&start, device) == 0);
    CHECK(QvGetDeviceState(QV_DS_MOTION_LEVEL, &value) == 0 && value == 42);
    CHECK(QvIsCapturing() == 0);
    QvCoreLogOutputFile(line);
    QvCoreSaveBMP(bmpPath, pixel, 1, 1);
    FILE* f = fopen(bmpPath, "rb");
    CHECK(f != NULL && fseek(f, 0, SEEK_END) == 0 && ftell(f) == 58);
    if (f) fclose(f);
    CHECK(QvCleanup() == 1);
    CHECK(QvCleanup() == 0);
    if (failures == 0) printf("header_c: all checks passed\n");
    return failures == 0 ? 0 : 1;
}
