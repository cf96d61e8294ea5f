/*
 * tarvex.h - the one public header of the Tarvex host library.
 *
 * Tarvex drives a digital sampling oscilloscope board over USB.  The board talks through one pair
 * of pipes: the host writes 64-byte command packets and the board answers some of them with one
 * reply each.  The library exports three families of C functions:
 *
 *   MPUSB...        find the driver's device interfaces, open, read, write and close pipes with
 *                   time-outs, read USB descriptors;
 *   ...USBPort...   a table of open pipe pairs per board index, and the send / send-and-receive
 *                   primitives;
 *   u_...           the board's commands.
 *
 * Calling convention: every export uses the C default convention (__cdecl on 32-bit Windows; on
 * x86_64 and on other systems there is only one).  Declared through TARVEX_CALL.
 *
 * Threading: every export may be called from any thread.  The library keeps one table of open
 * pipes and one command buffer for the whole process, so commands run one at a time: each export
 * that touches them or the board holds a process-wide lock for its whole length.  A capture or the
 * VScope sequence holds the library until it ends (seconds to a minute), and so does a read with a
 * long time-out on a pipe the host opened.  The last-error code is the calling thread's own: on
 * Windows GetLastError(); elsewhere every export (but the three below) leaves it in errno as it
 * returns, a Win32 error number (997 a time-out, 1167 a board that is gone).
 * u_About, u_GetAPIRev and MPUSBGetDLLVersion take no lock.  Not guaranteed: the order in which
 * waiting threads get their turn, and what another thread's commands did to the board between two
 * of yours (a set and a get are two commands).
 *
 * Usable from C and C++.  Define TARVEX_STATIC when linking the library statically.
 */
#ifndef TARVEX_H
#define TARVEX_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#  if defined(TARVEX_STATIC) || defined(TARVEX_BUILDING_DLL)
/* The DLL's exports, names and ordinals, come from its module-definition file. */
#    define TARVEX_API
#  else
#    define TARVEX_API __declspec(dllimport)
#  endif
#  if defined(_M_IX86) || defined(__i386__)
#    define TARVEX_CALL __cdecl
#  else
#    define TARVEX_CALL
#  endif
#else
#  define TARVEX_API __attribute__((visibility("default")))
#  define TARVEX_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Versions ------------------------------------------------------------------------------ */

#define TARVEX_API_REVISION 4096u          /* u_GetAPIRev */
#define MPUSB_DLL_VERSION 0x01010000u      /* MPUSBGetDLLVersion */

/* ---- Pipe handles -------------------------------------------------------------------------- */

/* A pipe handle is the platform's file handle; all bits set means "no handle". */
typedef void *TARVEX_HANDLE;
#define TARVEX_INVALID_HANDLE ((TARVEX_HANDLE)(intptr_t)-1)

/* Pipe directions of MPUSBOpen. */
#define PIPE_WRITE 0u /* host to device */
#define PIPE_READ 1u  /* device to host */

/* The board's vendor/product string and data pipe name. */
#define TARVEX_BOARD_VID_PID "vid_04d8&pid_0030"
#define TARVEX_BOARD_PIPE "\\MCHP_EP1"

/* ---- Transfer results of the port family and the u_ commands ------------------------------- */

#define XFER_FAIL 0  /* nothing usable was exchanged */
#define XFER_OK 1    /* written, and a reply of exactly the expected length was read */
#define XFER_SHORT 2 /* written, and a reply shorter than expected was read */

/* ---- The command packet --------------------------------------------------------------------- */

#define COMMAND_PACKET_BYTES 64

/* Command codes (byte 0). */
#define CMD_PORT 0xF0
#define CMD_VSC_TEMP 0xF1
#define CMD_I2C 0xF2
#define CMD_MDIO 0xF5
#define CMD_SCOPE 0xF6
#define CMD_SCOPE_FAST 0xF7
#define CMD_VSCOPE 0xF8
#define CMD_ETH 0xF9
#define CMD_SYSTEM 0xFA

/* Directions (byte 1). */
#define DIR_SET 0 /* the board sends no reply */
#define DIR_GET 1 /* the board sends one reply */

/* Selectors (byte 3). */
#define I2C_SI5326 0
#define I2C_SI5338 1
#define I2C_RAW 2
#define ETH_IP_ADDR 0
#define ETH_IP_MASK 1
#define ETH_IP_GATEWAY 2
#define ETH_MAC_ADDR 3
#define SYS_PING 0
#define SYS_RESET 1
#define SYS_RESET_BOOT 2
#define SYS_CALIBRATION 3
#define SYS_DEVICE_ID 4

typedef struct CommandPacket {
    uint8_t command;      /* byte 0: command code */
    uint8_t direction;    /* byte 1: DIR_SET or DIR_GET */
    uint8_t length;       /* byte 2: data length, written only by some commands */
    uint8_t selector;     /* byte 3: sub-command, register, port or address */
    uint8_t payload[60];  /* bytes 4..63 */
} CommandPacket;

/* ---- Capture statistics ---------------------------------------------------------------------- */

typedef struct ScopeStats {
    uint32_t sampleCount; /* sample words delivered: packets x 32 (x 256 for the fast capture) */
    uint16_t failCount;   /* packets whose exchange returned XFER_FAIL */
    uint16_t okCount;     /* packets whose exchange returned XFER_OK */
    uint16_t shortCount;  /* packets whose exchange returned XFER_SHORT */
    uint8_t flagSeen;     /* 1 when any unpacked sample word had bit 12 set */
} ScopeStats;

#define SCOPE_PACKET_BYTES 64
#define SAMPLES_PER_PACKET 32
#define FAST_SLOT_BYTES 512
#define FAST_SAMPLES_PER_PACKET 256
#define VSCOPE_PAGE_SIZE 64
#define VSCOPE_PAGE_COUNT 16
#define VSCOPE_EYE_BYTES (VSCOPE_PAGE_SIZE * VSCOPE_PAGE_COUNT)
#define CALIB_VALUE_COUNT 7

/* ---- MPUSB family: discovery, pipes, descriptors --------------------------------------------- */

/* Number of member indexes 0..126 whose interface belongs to vidPid (any interface if null). */
TARVEX_API uint32_t TARVEX_CALL MPUSBGetDeviceCount(const char *vidPid);
/* Opens pipe `pipeName` (null: the bare interface) of the interface at `instance`, for writing
 * (PIPE_WRITE) or reading (PIPE_READ).  TARVEX_INVALID_HANDLE on every failure. */
TARVEX_API TARVEX_HANDLE TARVEX_CALL MPUSBOpen(uint32_t instance, const char *vidPid,
                                               const char *pipeName, uint32_t direction,
                                               uint32_t reserved);
/* Timed transfers: 1 on success with the count moved through `length` (if given), else 0 with
 * the count 0 and the failing step's code as the thread's last-error code. */
TARVEX_API uint32_t TARVEX_CALL MPUSBRead(TARVEX_HANDLE handle, void *data, uint32_t dataLength,
                                          uint32_t *length, uint32_t timeoutMs);
TARVEX_API uint32_t TARVEX_CALL MPUSBWrite(TARVEX_HANDLE handle, const void *data,
                                           uint32_t dataLength, uint32_t *length,
                                           uint32_t timeoutMs);
TARVEX_API uint32_t TARVEX_CALL MPUSBReadInt(TARVEX_HANDLE handle, void *data, uint32_t dataLength,
                                             uint32_t *length, uint32_t timeoutMs);
/* 1 for TARVEX_INVALID_HANDLE or a successful close, 0 if the close fails. */
TARVEX_API int TARVEX_CALL MPUSBClose(TARVEX_HANDLE handle);
TARVEX_API uint32_t TARVEX_CALL MPUSBGetDeviceDescriptor(TARVEX_HANDLE handle, void *descriptor,
                                                         uint32_t size, uint32_t *length);
/* `configIndex` counts from 1. */
TARVEX_API uint32_t TARVEX_CALL MPUSBGetConfigurationDescriptor(TARVEX_HANDLE handle,
                                                                uint8_t configIndex,
                                                                void *descriptor, uint32_t size,
                                                                uint32_t *length);
TARVEX_API uint32_t TARVEX_CALL MPUSBGetStringDescriptor(TARVEX_HANDLE handle, uint8_t stringIndex,
                                                         uint16_t languageId, void *descriptor,
                                                         uint32_t size, uint32_t *length);
/* Only the low 8 bits of `configValue` are sent. */
TARVEX_API uint32_t TARVEX_CALL MPUSBSetConfiguration(TARVEX_HANDLE handle, uint16_t configValue);
TARVEX_API uint32_t TARVEX_CALL MPUSBGetDLLVersion(void);

/* ---- Port family: the table of open pipes per board index ------------------------------------- */
/* Only the low 16 bits of `index` count; indexes 32 and above are refused without I/O. */

TARVEX_API int TARVEX_CALL OpenUSBPort(uint32_t index);
TARVEX_API int TARVEX_CALL CloseUSBPort(uint32_t index);
TARVEX_API int TARVEX_CALL SendUSBPacket(uint32_t index, const uint8_t *data, uint32_t dataLength,
                                         uint32_t writeTimeoutMs);
/* `*replyLength` carries the expected reply length in and the count received out. */
TARVEX_API int TARVEX_CALL SendReceiveUSBPacket(uint32_t index, const uint8_t *data,
                                                uint32_t dataLength, uint8_t *reply,
                                                uint32_t *replyLength, uint32_t writeTimeoutMs,
                                                uint32_t readTimeoutMs);

/* ---- u_ family: system commands ---------------------------------------------------------------- */

TARVEX_API int TARVEX_CALL u_About(void);
TARVEX_API int TARVEX_CALL u_GetAPIRev(void);
TARVEX_API int TARVEX_CALL u_GetDeviceCount(void);
TARVEX_API int TARVEX_CALL u_Ping(uint16_t index, uint8_t *reply /* 20 bytes */);
TARVEX_API int TARVEX_CALL u_Reset_MCU(uint16_t index);
TARVEX_API int TARVEX_CALL u_Reset_MCU_Boot(uint16_t index);
TARVEX_API int TARVEX_CALL u_SetDeviceID(uint16_t index, uint8_t deviceId);

/* ---- u_ family: network settings (address bytes in the caller's array order) ------------------- */

TARVEX_API int TARVEX_CALL u_SetEthIPAddr(uint16_t index, const uint8_t *addr /* 4 */);
TARVEX_API int TARVEX_CALL u_GetEthIPAddr(uint16_t index, uint8_t *addr /* 4 */);
TARVEX_API int TARVEX_CALL u_SetEthIPMask(uint16_t index, const uint8_t *addr /* 4 */);
TARVEX_API int TARVEX_CALL u_GetEthIPMask(uint16_t index, uint8_t *addr /* 4 */);
TARVEX_API int TARVEX_CALL u_SetEthIPGateway(uint16_t index, const uint8_t *addr /* 4 */);
TARVEX_API int TARVEX_CALL u_GetEthIPGateway(uint16_t index, uint8_t *addr /* 4 */);
TARVEX_API int TARVEX_CALL u_SetEthMACAddress(uint16_t index, const uint8_t *mac /* 6 */);
TARVEX_API int TARVEX_CALL u_GetEthMACAddress(uint16_t index, uint8_t *mac /* 6 */);

/* ---- u_ family: I2C, clock chips, MDIO --------------------------------------------------------- */

TARVEX_API int TARVEX_CALL u_I2C_Write(uint16_t index, uint8_t device, const uint8_t *buffer,
                                       uint8_t count, uint8_t reg, uint8_t aux);
TARVEX_API int TARVEX_CALL u_I2C_Read(uint16_t index, uint8_t device, uint8_t count,
                                      uint8_t *buffer, uint8_t reg, uint8_t aux);
TARVEX_API int TARVEX_CALL u_SetSi5326(uint16_t index, uint8_t device, uint8_t reg, uint8_t value);
TARVEX_API int TARVEX_CALL u_GetSi5326(uint16_t index, uint8_t device, uint8_t reg, uint8_t *value);
TARVEX_API int TARVEX_CALL u_SetSi5338(uint16_t index, uint8_t device, uint8_t reg, uint8_t value);
TARVEX_API int TARVEX_CALL u_GetSi5338(uint16_t index, uint8_t device, uint8_t reg, uint8_t *value);
TARVEX_API int TARVEX_CALL u_SetMDIO(uint16_t index, uint8_t mdioAddr, uint16_t reg, uint16_t value);
TARVEX_API int TARVEX_CALL u_GetMDIO(uint16_t index, uint8_t mdioAddr, uint16_t reg,
                                     uint16_t *value);

/* ---- u_ family: port registers, status, acquisition control ------------------------------------ */

TARVEX_API int TARVEX_CALL u_SetPort(uint16_t index, uint8_t portNumber, uint16_t value);
TARVEX_API int TARVEX_CALL u_GetPort(uint16_t index, uint8_t portNumber, uint16_t *value);
TARVEX_API int TARVEX_CALL u_GetStatus(uint16_t index, uint8_t *statusFlags /* 4 */);
TARVEX_API int TARVEX_CALL u_ResetFIFO(uint16_t index);

/* ---- u_ family: scope capture and eye folding ---------------------------------------------------- */

TARVEX_API int TARVEX_CALL u_GetScopePacket(uint16_t index, uint8_t *buffer /* 64 */);
TARVEX_API int TARVEX_CALL u_GetScopePacketFast(uint16_t index, uint8_t *buffer /* 64 */);
TARVEX_API int TARVEX_CALL u_GetScopeSamples(uint16_t index, uint16_t packets, uint16_t *samples,
                                             ScopeStats *stats);
TARVEX_API int TARVEX_CALL u_GetScopeSamplesFast(uint16_t index, uint16_t packets, uint8_t *buffer,
                                                 ScopeStats *stats);
TARVEX_API int TARVEX_CALL u_GetEyeXY(uint16_t index, uint16_t packets, double dataRate,
                                      double sampleRate, uint16_t *eyeX, uint16_t xScale,
                                      uint16_t *eyeY, ScopeStats *stats);

/* ---- u_ family: VScope eye and VSC temperature -------------------------------------------------- */

TARVEX_API int TARVEX_CALL u_GenerateVScopeEye(uint16_t index);
TARVEX_API int TARVEX_CALL u_GetVScopePacket(uint16_t index, uint8_t *reply, uint8_t pageLength,
                                             uint8_t page);
TARVEX_API int TARVEX_CALL u_GetVScopeSamples(uint16_t index, uint8_t *eyeBuffer /* 1024 */);
TARVEX_API int TARVEX_CALL u_GetVSCTemp(uint16_t index, uint8_t *temperature);

/* ---- u_ family: calibration values ------------------------------------------------------------- */

TARVEX_API int TARVEX_CALL u_StoreScopeCalibValues(uint16_t index, const float *values /* 7 */);
TARVEX_API int TARVEX_CALL u_GetScopeCalibValues(uint16_t index, float *values /* 7 */);

#ifdef __cplusplus
} /* extern "C" */

static_assert(sizeof(CommandPacket) == 64, "a command packet is 64 bytes");
static_assert(sizeof(ScopeStats) == 12, "ScopeStats is shared with host programs");
static_assert(offsetof(ScopeStats, failCount) == 4 && offsetof(ScopeStats, okCount) == 6 &&
                  offsetof(ScopeStats, shortCount) == 8 && offsetof(ScopeStats, flagSeen) == 10,
              "ScopeStats field offsets are shared with host programs");
#else
#  if defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
_Static_assert(sizeof(CommandPacket) == 64, "a command packet is 64 bytes");
_Static_assert(sizeof(ScopeStats) == 12, "ScopeStats is shared with host programs");
_Static_assert(offsetof(ScopeStats, failCount) == 4 && offsetof(ScopeStats, okCount) == 6 &&
                   offsetof(ScopeStats, shortCount) == 8 && offsetof(ScopeStats, flagSeen) == 10,
               "ScopeStats field offsets are shared with host programs");
#  endif
#endif

#endif /* TARVEX_H */
