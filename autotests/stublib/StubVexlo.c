/* A stand-in for the maker's device library: exports the sixteen functions with
 * the C prototypes the station binds, records what each call received, and
 * answers with fixed, recognisable values. Built twice: complete, and without
 * DACSetBoardRange (STUB_OMIT_DACSETBOARDRANGE) for the missing-symbol test. */
#include "StubVexlo.h"

#include <string.h>

static const char *const names[] = {
    "GetDevices",         "QueryDeviceInfo", "ClearDevices", "GenericVendorRead",
    "GenericVendorWrite", "ADC_SetConfig",   "ADC_GetScanV", "ADC_QueryCal",
    "ADC_SetCal",         "ADC_BulkAcquire", "ADC_BulkPoll", "CTR_StartOutputFreq",
    "DIO_Configure",      "DIO_WriteAll",    "DIO_ReadAll",  "DACSetBoardRange",
};
enum { FunctionCount = sizeof names / sizeof names[0] };
static StubCall records[FunctionCount];

static StubCall *enter(int fn)
{
    StubCall *c = &records[fn];
    uint32_t calls = c->calls + 1;
    memset(c, 0, sizeof *c);
    c->calls = calls;
    return c;
}

static uint32_t status(int fn)
{
    return StubStatusBase + (uint32_t)fn;
}

static void copyIn(StubCall *c, const void *data, uint32_t size)
{
    if (!data)
        return;
    if (size > STUB_DATA_MAX - c->dataLen)
        size = STUB_DATA_MAX - c->dataLen;
    memcpy(c->data + c->dataLen, data, size);
    c->dataLen += size;
}

const StubCall *stub_call(const char *function)
{
    for (int i = 0; i < FunctionCount; ++i)
        if (strcmp(names[i], function) == 0)
            return &records[i];
    return 0;
}

uint32_t GetDevices(void)
{
    enter(0);
    return StubDeviceMask;
}

uint32_t QueryDeviceInfo(uint32_t device, uint32_t *productId, uint32_t *nameSize, char *name, uint32_t *dioBytes,
                         uint32_t *counters)
{
    StubCall *c = enter(1);
    c->args[0] = device;
    c->args[1] = productId != 0;
    c->args[2] = nameSize ? *nameSize : 0;
    c->args[3] = name != 0;
    c->args[4] = dioBytes != 0;
    c->args[5] = counters != 0;
    if (productId)
        *productId = StubProductId;
    if (nameSize && name && *nameSize >= 5) {
        memcpy(name, "STUB", 5);
        *nameSize = 4;
    }
    if (dioBytes)
        *dioBytes = 2;
    if (counters)
        *counters = 1;
    return status(1);
}

uint32_t ClearDevices(void)
{
    enter(2);
    return status(2);
}

uint32_t GenericVendorRead(uint32_t device, uint8_t request, uint16_t value, uint16_t index, uint32_t *size, void *data)
{
    StubCall *c = enter(3);
    c->args[0] = device;
    c->args[1] = request;
    c->args[2] = value;
    c->args[3] = index;
    c->args[4] = size ? *size : 0;
    c->args[5] = data != 0;
    /* Delivers one byte fewer than asked: 0x11, 0x22, ... */
    if (size && data && *size > 0) {
        uint8_t *out = (uint8_t *)data;
        for (uint32_t i = 0; i + 1 < *size; ++i)
            out[i] = (uint8_t)(0x11 * (i + 1));
        *size -= 1;
    }
    return status(3);
}

uint32_t GenericVendorWrite(uint32_t device, uint8_t request, uint16_t value, uint16_t index, uint32_t size, void *data)
{
    StubCall *c = enter(4);
    c->args[0] = device;
    c->args[1] = request;
    c->args[2] = value;
    c->args[3] = index;
    c->args[4] = size;
    copyIn(c, data, size);
    return status(4);
}

uint32_t ADC_SetConfig(uint32_t device, uint8_t *config, uint32_t *size)
{
    StubCall *c = enter(5);
    c->args[0] = device;
    c->args[1] = size ? *size : 0;
    if (size)
        copyIn(c, config, *size);
    return status(5);
}

uint32_t ADC_GetScanV(uint32_t device, double *buffer)
{
    StubCall *c = enter(6);
    c->args[0] = device;
    if (buffer) {
        buffer[0] = 1.25;
        buffer[1] = -2.5;
    }
    return status(6);
}

uint32_t ADC_QueryCal(uint32_t device)
{
    enter(7)->args[0] = device;
    return status(7);
}

uint32_t ADC_SetCal(uint32_t device, const char *name)
{
    StubCall *c = enter(8);
    c->args[0] = device;
    if (name)
        strncpy(c->text, name, sizeof c->text - 1);
    return status(8);
}

uint32_t ADC_BulkAcquire(uint32_t device, uint32_t size, void *buffer)
{
    StubCall *c = enter(9);
    c->args[0] = device;
    c->args[1] = size;
    c->args[2] = buffer != 0;
    return status(9);
}

uint32_t ADC_BulkPoll(uint32_t device, uint32_t *bytesLeft)
{
    StubCall *c = enter(10);
    c->args[0] = device;
    c->args[1] = bytesLeft ? *bytesLeft : 0;
    if (bytesLeft)
        *bytesLeft = StubBytesLeft;
    return status(10);
}

uint32_t CTR_StartOutputFreq(uint32_t device, uint32_t block, double *hz)
{
    StubCall *c = enter(11);
    c->args[0] = device;
    c->args[1] = block;
    if (hz) {
        c->hz = *hz;
        *hz = *hz / 2; /* the frequency the counter really makes */
    }
    return status(11);
}

uint32_t DIO_Configure(uint32_t device, uint8_t tristate, void *mask, void *data)
{
    StubCall *c = enter(12);
    c->args[0] = device;
    c->args[1] = tristate;
    copyIn(c, mask, 1);
    copyIn(c, data, 2);
    return status(12);
}

uint32_t DIO_WriteAll(uint32_t device, void *data)
{
    StubCall *c = enter(13);
    c->args[0] = device;
    copyIn(c, data, 2);
    return status(13);
}

uint32_t DIO_ReadAll(uint32_t device, void *data)
{
    StubCall *c = enter(14);
    c->args[0] = device;
    if (data) {
        const uint16_t word = StubDioWord;
        memcpy(data, &word, 2);
    }
    return status(14);
}

#ifndef STUB_OMIT_DACSETBOARDRANGE
uint32_t DACSetBoardRange(uint32_t device, uint32_t range)
{
    StubCall *c = enter(15);
    c->args[0] = device;
    c->args[1] = range;
    return status(15);
}
#endif
