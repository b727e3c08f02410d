/*
 * QuorCore: capture device, motion measurement, frame capture, BMP/JPEG files,
 * HTTP form post and an FTP client, as plain C functions.
 *
 * Results: Qv functions return 1 for success and 0 for failure (device numbers -1 for
 * none); QFtp functions return QFTP_OK (0) or QFTP_FAILED (0x80000001).
 * Blocks the library hands out are released only through QvCoreFreeJpegMem or
 * QvReleaseHttpUrlData.
 *
 * This header stands alone and compiles as C99 and as C++.
 */
#ifndef QUORCORE_H
#define QUORCORE_H

#include <stdint.h>

#if defined(QUORCORE_BUILDING)
#define QV_API __attribute__((visibility("default")))
#else
#define QV_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* A host window: a QWidget* of the calling program, passed as an opaque pointer. */
typedef void* QvHWND;

/* The 40-byte Windows bitmap information header, little-endian as in a BMP file. */
typedef struct tagBITMAPINFOHEADER {
    uint32_t biSize;
    int32_t biWidth;
    int32_t biHeight;
    uint16_t biPlanes;
    uint16_t biBitCount;
    uint32_t biCompression;
    uint32_t biSizeImage;
    int32_t biXPelsPerMeter;
    int32_t biYPelsPerMeter;
    uint32_t biClrUsed;
    uint32_t biClrImportant;
} BITMAPINFOHEADER;

/* biCompression values and the packed YUV codes the capture layer reports. */
#define QV_BI_RGB 0u
#define QV_BI_BITFIELDS 3u
#define QV_FOURCC(a, b, c, d)                                                                  \
    ((uint32_t)(uint8_t)(a) | ((uint32_t)(uint8_t)(b) << 8) | ((uint32_t)(uint8_t)(c) << 16) | \
     ((uint32_t)(uint8_t)(d) << 24))
#define QV_FOURCC_YUY2 QV_FOURCC('Y', 'U', 'Y', '2')
#define QV_FOURCC_UYVY QV_FOURCC('U', 'Y', 'V', 'Y')

typedef struct QvSTARTUPDEVICEINFO {
    QvHWND hwndNotify; /* receives the frame notification after every frame */
    QvHWND hwndParent; /* parent of the capture window */
} QvSTARTUPDEVICEINFO;

typedef struct QvDEVICEINFO {
    char szDeviceName[256];
} QvDEVICEINFO;

/* The frame notification. The library posts it to hwndNotify as a QEvent whose type is
 * QEvent::User (1000) + 2935, queued to the window's thread. */
#define QV_WM_FRAME_NOTIFY 2935
#define QV_FRAME_NOTIFY_EVENT (1000 + QV_WM_FRAME_NOTIFY)

/* Device state ids (QvGetDeviceState / QvSetDeviceState). */
#define QV_DS_DISPLAY_MODE 0x1000ul
#define QV_DS_DISPLAY_CAPS 0x1001ul
#define QV_DS_WINDOW_X 0x1008ul
#define QV_DS_WINDOW_Y 0x1009ul
#define QV_DS_WINDOW_WIDTH 0x100Aul
#define QV_DS_WINDOW_HEIGHT 0x100Bul
#define QV_DS_CAPTURE_WINDOW 0x1010ul
#define QV_DS_MOTION_MODE 0x1100ul
#define QV_DS_MOTION_LEVEL 0x1101ul
#define QV_DS_DIALOG_CAPS 0x1800ul
#define QV_DS_CAPTURE_FILE_EXISTS 0x2000ul
#define QV_DS_DEVICE_LINK 0x2001ul

/* Display modes (state 0x1000, capability mask 0x1001). */
#define QV_DISPLAY_NONE 1ul
#define QV_DISPLAY_PREVIEW 2ul
#define QV_DISPLAY_OVERLAY 4ul

/* Device link (state 0x2001, read only): a network camera connects first and may go away;
 * a local camera that vanished is lost too. */
#define QV_LINK_LIVE 0ul
#define QV_LINK_CONNECTING 1ul
#define QV_LINK_LOST 2ul

/* Motion modes (state 0x1100). */
#define QV_MOTION_OFF 1ul
#define QV_MOTION_MEASURE 2ul
#define QV_MOTION_SHOW 4ul

/* Driver dialogs (mask 0x1800 and QvOpenDialog). */
#define QV_DLG_COMPRESSION 1ul
#define QV_DLG_FORMAT 2ul
#define QV_DLG_DISPLAY 4ul
#define QV_DLG_SOURCE 8ul

/* Single-frame capture flag: save as JPEG; the low byte is then the quality. */
#define QV_CAPTURE_JPEG 0x10ul

/* Message boxes of the library (its JPEG file errors) go to this hook; without one the
 * text goes to standard error. Texts are UTF-8. */
typedef void (*QvMessageHook)(const char* text, const char* caption, void* user);
QV_API void QvSetMessageHook(QvMessageHook hook, void* user);

/* Library frame and device list. */
QV_API int QvStartup(void);
QV_API int QvCleanup(void);
QV_API int QvGetDeviceCount(void);
QV_API int QvGetDeviceInfo(QvDEVICEINFO* info, int device);
QV_API int QvGetDeviceNo(char* description);
QV_API int QvGetCurDevice(void);
QV_API void QvCoreLogOutputFile(char* const text);

/* Device session and state. */
QV_API int QvStartupDevice(QvSTARTUPDEVICEINFO* const info, int device);
QV_API int QvCleanupDevice(void);
QV_API int QvGetDeviceState(unsigned long id, unsigned long* value);
QV_API int QvSetDeviceState(unsigned long id, unsigned long value);
QV_API int QvGetCaptureCaps(QvHWND captureWindow, char* deviceName);
QV_API int QvOpenDialog(unsigned long dialog);
QV_API void QvCoreSetPreviewRate(int framesPerSecond);
QV_API int QvReConnectDevice(void);
/* Copies the current video format. The buffer must hold a whole BITMAPINFOHEADER; the
 * library never writes more than sizeof(BITMAPINFOHEADER) bytes into it. */
QV_API int QvGetCaptureDeviceInfo(BITMAPINFOHEADER* header);

/* BMP and JPEG files. */
QV_API int QvCoreBMP2JPG(char* const bmpPath, char* const jpegPath, int quality);
QV_API int QvConvertBMPToJPG(char* const bmpPath, char* const jpegPath, unsigned long flags);
QV_API unsigned char* QvCoreJPG2RGB(char* path, unsigned int* width, unsigned int* height);
QV_API void QvCoreFreeJpegMem(unsigned char* pixels);
QV_API void QvCoreSaveBMP(const char* path, unsigned char* pixels, unsigned int width,
                          unsigned int height);

/* Single-frame and sequence capture. */
QV_API int QvCaptureSingleFrame(char* const path, unsigned long flags);
QV_API int QvStartCapture(char* const destination, unsigned long reserved, long seconds);
QV_API int QvStopCapture(void);
QV_API int QvIsCapturing(void);

/* HTTP form post. */
QV_API char* QvGetHttpUrlData(char* agent, char* url, char* script, char* form);
QV_API char* QvGetBodyText(char* reply);
QV_API void QvReleaseHttpUrlData(char* reply);
/* A plain HTTP GET (http only, no redirects, the library's time-out), for pages and pictures.
 * Returns a block holding *length bytes of the body followed by a zero byte, released with
 * QvReleaseHttpUrlData, or null when no reply came. *status gets the HTTP status and
 * contentType (when not null) the Content-Type header, cut to contentTypeSize - 1 bytes. */
QV_API char* QvGetHttpUrl(const char* agent, const char* url, long* status, unsigned long* length,
                          char* contentType, int contentTypeSize);

/* Stream cameras: network streams (rtsp://, http:// MJPEG or HLS) and video files, listed
 * after the local cameras. Set them before QvStartup's first QvGetDeviceCount; a later call
 * takes effect at the next QvStartup. names and urls hold count UTF-8 texts. Returns 1, or 0
 * when this build has no stream support. */
QV_API int QvSetStreamSources(const char* const* names, const char* const* urls, int count);

/* Stream connection changes, oldest first: returns 1 and fills *kind (QV_STREAM_LOST or
 * QV_STREAM_RESTORED) and the source's name (cut to nameSize - 1 bytes, always terminated),
 * or 0 when nothing happened since the last call. Any thread. */
#define QV_STREAM_LOST 3
#define QV_STREAM_RESTORED 4
QV_API int QvTakeStreamEvent(int* kind, char* name, int nameSize);

/* Motion check and ignore masks of the measurement. mask: polygons in picture coordinates
 * from 0 to 1, top left origin, "x,y x,y x,y" with polygons separated by '|' or ';' (empty: none).
 * Masked pixels count for neither the level nor the check. With enable 0 the check is off
 * and the level alone decides. Returns 0 (and changes nothing) for a bad mask text. Takes
 * effect from the next frame; the check then learns the scene anew. Any thread. */
QV_API int QvSetMotionCheck(int enable, const char* mask);
/* The check's values: change must stand noiseTenths / 10 times above the learned noise, the
 * smallest moving area is areaTenths / 10 percent of the picture, motion must last persistMs.
 * Out-of-range values are kept to 1..1000, 1..1000 and 0..60000. Takes effect from the next
 * frame without learning the scene anew. Any thread. */
QV_API void QvSetMotionCheckValues(int noiseTenths, int areaTenths, int persistMs);

#define QV_MOTION_CHECK_MAX_BLOBS 8
typedef struct QvMOTIONCHECKRESULT {
    int32_t enabled;
    int32_t confirmed;             /* person-sized motion that lasted the minimum time */
    int32_t moving;                /* person-sized motion in the last frame */
    int32_t lightChange;           /* the last frame's light changed (and was followed) */
    int32_t sceneChange;           /* too much changed at once: the scene is being learnt anew */
    int32_t noiseTenths;           /* learned noise, tenths of a luma level */
    int32_t gridWidth, gridHeight; /* size of the check's cell picture */
    int32_t blobCount;
    int32_t blobs[QV_MOTION_CHECK_MAX_BLOBS][4]; /* x0, y0, x1, y1 in cells, x1 and y1 exclusive */
} QvMOTIONCHECKRESULT;

/* The check's verdict on the last analysed frame. Any thread. */
QV_API int QvGetMotionCheckResult(QvMOTIONCHECKRESULT* result);
/* The check's cells (gridWidth x gridHeight bytes, top row first): 0 still, 1 changed above
 * the noise, 2 part of counting motion, 3 masked. Returns 0 when size is too small or no
 * frame was checked yet. Any thread. */
QV_API int QvGetMotionCheckCells(unsigned char* cells, int size);
/* The check's picture of the last frame: its luma, one byte per cell like the cells. Returns 0
 * when size is too small or no frame was checked yet. Any thread. */
QV_API int QvGetMotionCheckPicture(unsigned char* luma, int size);

/* FTP client. */
#define QFTP_OK 0ul
#define QFTP_FAILED 0x80000001ul
#define QFTP_STATE_TRANSFERRING 0x1001u

/* File attributes in QFtpFindFirstFile / QFtpFindNextFile results. */
#define QV_FILE_ATTRIBUTE_DIRECTORY 16u
#define QV_FILE_ATTRIBUTE_NORMAL 128u

typedef struct QvFILETIME {
    uint32_t dwLowDateTime; /* 100-ns intervals since 1601-01-01 UTC, as on Windows */
    uint32_t dwHighDateTime;
} QvFILETIME;

/* The Linux form of WIN32_FIND_DATAA. */
typedef struct WIN32_FIND_DATAA {
    uint32_t dwFileAttributes;
    QvFILETIME ftCreationTime;
    QvFILETIME ftLastAccessTime;
    QvFILETIME ftLastWriteTime;
    uint32_t nFileSizeHigh;
    uint32_t nFileSizeLow;
    uint32_t dwReserved0;
    uint32_t dwReserved1;
    char cFileName[260];
    char cAlternateFileName[14];
} WIN32_FIND_DATAA;

typedef struct _QFTPSTATE {
    uint32_t dwState;       /* QFTP_STATE_TRANSFERRING while a transfer runs */
    uint32_t dwTotalSize;   /* low 32 bits of the file size */
    uint32_t dwTransferred; /* bytes so far */
} QFTPSTATE;

typedef void (*QFtpProgressCallback)(QFTPSTATE* state, void* user);

QV_API unsigned long QFtpStartup(void);
QV_API unsigned long QFtpCleanup(void);
QV_API unsigned long QFtpLogOn(char* const url, unsigned long flags, int port, int useProxy,
                               char* proxyUrl, int proxyPort);
QV_API unsigned long QFtpLogOff(void);
QV_API unsigned long QFtpSetBufferSize(unsigned long size);
QV_API unsigned long QFtpSetCurrentDirectory(char* const directory, int create);
QV_API unsigned long QFtpGetCurrentDirectory(char* directory);
QV_API unsigned long QFtpCreateDirectory(char* const directory);
QV_API unsigned long QFtpRemoveDirectory(char* const directory);
QV_API unsigned long QFtpFindFirstFile(char* const pattern, void** find, WIN32_FIND_DATAA* data);
QV_API unsigned long QFtpFindNextFile(void* find, WIN32_FIND_DATAA* data);
QV_API unsigned long QFtpFindClose(void* find);
QV_API unsigned long QFtpIsFileExist(char* const name);
QV_API unsigned long QFtpPutFile(char* const localPath, char* const remoteName,
                                 QFtpProgressCallback callback, void* const user);
QV_API unsigned long QFtpGetFile(char* const remoteName, char* const localPath,
                                 QFtpProgressCallback callback, void* const user);
QV_API unsigned long QFtpChMod(char* const name, char* const mode, QFtpProgressCallback callback);
QV_API unsigned long QFtpCancel(void);
QV_API unsigned long QFtpRenameFile(char* const oldName, char* const newName);
QV_API unsigned long QFtpDeleteFile(char* const name);
QV_API unsigned long QFtpGetLastError(char* text);

#ifdef __cplusplus
}
#endif

#endif /* QUORCORE_H */
