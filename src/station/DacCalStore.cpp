#include "station/DacCalStore.h"

#include "device/DeviceLibrary.h"
#include "station/Station.h"

#include <QtEndian>

#include <bit>
#include <cstring>

namespace quillon {

namespace {

constexpr quint16 DacCalBlockOffset = 4; // the block follows the record's marker

quint16 recordAddress(int record)
{
    return quint16(DacCalRecordBase + DacCalRecordSize * record);
}

QString errorLine(quint32 status, const char *what)
{
    return QStringLiteral("Error ") + QString::number(status) + QLatin1String(what);
}

} // namespace

std::array<std::uint8_t, 32> DacCalBlock(const DacCalConstants &constants)
{
    std::array<std::uint8_t, 32> block{};
    for (size_t dac = 0; dac < 4; ++dac) {
        const float pair[2] = {constants.M[dac], constants.B[dac]};
        for (size_t k = 0; k < 2; ++k) {
            // The swapped word laid down low byte first is the value's big-endian form.
            const quint32 swapped = ByteSwap32(std::bit_cast<quint32>(pair[k]));
            qToLittleEndian<quint32>(swapped, block.data() + 8 * dac + 4 * k);
        }
    }
    return block;
}

bool DacMarkerWrite(DeviceLibrary &lib, const char marker[4], const QString &context, TestRow &memo, bool &failed)
{
    bool allWritten = true;
    for (int record = 0; record < 4; ++record) {
        char bytes[4];
        std::memcpy(bytes, marker, sizeof bytes);
        const quint32 status =
            lib.GenericVendorWrite(diOnly, EepromRequest, recordAddress(record), 0, sizeof bytes, bytes);
        if (status == 0)
            continue;
        failed = true;
        allWritten = false;
        if (!context.isEmpty()) {
            memo.addLine(QStringLiteral("Error ") + QString::number(status) + QLatin1Char(' ') + context
                         + QLatin1Char('.'));
            return false;
        }
    }
    return allWritten;
}

bool DacCalStore(DeviceLibrary &lib, const DacCalConstants &constants, int dacRange, quint8 dacCount, TestRow &memo)
{
    bool failed = false;
    auto stop = [&](const QString &line) {
        memo.addLine(line);
        return true;
    };

    if (!DacMarkerWrite(lib, "XXXX", QStringLiteral("prepping EEPROM for cal constants"), memo, failed))
        return true;

    auto block = DacCalBlock(constants);
    const std::array<std::uint8_t, 2> rangeCount{std::uint8_t(dacRange & 0xFF), dacCount};

    for (int record = 0; record < 4; ++record) {
        std::array<std::uint8_t, 32> out = block;
        quint32 status =
            lib.GenericVendorWrite(diOnly, EepromRequest, quint16(recordAddress(record) + DacCalBlockOffset), 0,
                                   quint32(out.size()), out.data());
        if (status)
            return stop(errorLine(status, " writing cal constants to EEPROM."));
        std::array<std::uint8_t, 2> rc = rangeCount;
        status = lib.GenericVendorWrite(diOnly, EepromRequest, DacRangeCountAddress, 0, quint32(rc.size()), rc.data());
        if (status)
            return stop(errorLine(status, " writing DAC range/count to EEPROM."));
    }

    for (int record = 0; record < 4; ++record) {
        std::array<std::uint8_t, 32> in{};
        quint32 length = quint32(in.size());
        const quint32 status = lib.GenericVendorRead(
            diOnly, EepromRequest, quint16(recordAddress(record) + DacCalBlockOffset), 0, &length, in.data());
        if (status)
            return stop(errorLine(status, " reading cal constants back from EEPROM."));
        if (length != in.size())
            return stop(QStringLiteral("Bad length reading cal constants back from EEPROM."));
        if (in != block)
            return stop(QStringLiteral("Data mismatch reading cal constants back from EEPROM."));
    }

    {
        std::array<std::uint8_t, 2> in{};
        quint32 length = quint32(in.size());
        const quint32 status =
            lib.GenericVendorRead(diOnly, EepromRequest, DacRangeCountAddress, 0, &length, in.data());
        if (status)
            return stop(errorLine(status, " reading DAC range/count back from EEPROM."));
        if (length != in.size())
            return stop(QStringLiteral("Bad length reading DAC range/count back from EEPROM."));
        if (in != rangeCount)
            return stop(QStringLiteral("Data mismatch reading DAC range/count back from EEPROM."));
    }

    if (!DacMarkerWrite(lib, "DACC", QStringLiteral("recording that EEPROM has cal constants"), memo, failed)) {
        // Some records may already say "DACC": withdraw them all, quietly.
        DacMarkerWrite(lib, "XXXX", QString(), memo, failed);
    }
    return failed;
}

} // namespace quillon
