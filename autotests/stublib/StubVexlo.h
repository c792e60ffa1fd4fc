/* Inspection interface of the stub device library (the loader test's fake).
 * Shared by the C stub and the C++ test. */
#ifndef QUILLON_STUBVEXLO_H
#define QUILLON_STUBVEXLO_H

#include <stdint.h>

#define STUB_DATA_MAX 64

/* What the last call of one function received. Scalars go to args in argument
 * order (the device first). A pointer to a 32-bit in/out value is recorded as the
 * value it pointed to on entry; any other pointer as 1 (given) or 0 (null). Bytes
 * the library reads from the caller (write payload, configuration block, DIO mask
 * and word) go to data. */
typedef struct StubCall {
    uint32_t calls;
    uint32_t args[6];
    uint8_t data[STUB_DATA_MAX];
    uint32_t dataLen;
    char text[32];
    double hz;
} StubCall;

/* Each function answers with its own status: StubStatusBase + its position in
 * StubFunctionNames (GetDevices answers StubDeviceMask instead). */
enum { StubStatusBase = 1000 };
#define StubDeviceMask 0x80000021u
#define StubProductId 0x8147u
#define StubDioWord 0xA55Au
#define StubBytesLeft 1234u

typedef const StubCall *(*StubCallFn)(const char *function);

#endif
