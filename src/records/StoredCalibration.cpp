#include "records/StoredCalibration.h"

#include "device/DacRequests.h"

#include <bit>

namespace quillon::records {

namespace {

// The block of constants follows each record's marker.
constexpr int BlockOffset = CalMarkerSize;

int recordAt(int address, int offsetInRecord)
{
    const int relative = address - DacCalRecordBase - offsetInRecord;
    if (relative < 0 || relative % DacCalRecordSize != 0 || relative / DacCalRecordSize > 3)
        return -1;
    return relative / DacCalRecordSize;
}

// Notes a marker written to record; true when it says the record is valid.
bool noteMarker(StoredCalibration &stored, int record, const QByteArray &bytes)
{
    const bool says = bytes == QByteArrayLiteral("DACC");
    const auto bit = quint8(1u << record);
    stored.markersWritten |= bit;
    stored.markersValid = says ? quint8(stored.markersValid | bit) : quint8(stored.markersValid & ~bit);
    return says;
}

} // namespace

int calRecordOfMarker(int address)
{
    return recordAt(address, 0);
}

int calRecordOfBlock(int address)
{
    return recordAt(address, BlockOffset);
}

std::array<float, 8> calBlockValues(const QByteArray &block)
{
    std::array<float, 8> values{};
    if (block.size() < CalBlockSize)
        return values;
    const auto *b = reinterpret_cast<const unsigned char *>(block.constData());
    for (size_t i = 0; i < values.size(); ++i) {
        const unsigned char *v = b + 4 * i;
        const quint32 word = (quint32(v[0]) << 24) | (quint32(v[1]) << 16) | (quint32(v[2]) << 8) | quint32(v[3]);
        values[i] = std::bit_cast<float>(word);
    }
    return values;
}

quint16 arefWordOf(const QByteArray &bytes)
{
    return quint16(quint8(bytes.at(0)) | (quint8(bytes.at(1)) << 8));
}

StoredCalibration decodeStoredCalibration(const std::vector<EepromWrite> &writes)
{
    StoredCalibration stored;
    std::array<bool, 4> valid{};
    for (const EepromWrite &write : writes) {
        if (write.address == ArefCalAddress && write.bytes.size() == 2) {
            if (write.status == 0) {
                stored.arefWord = arefWordOf(write.bytes);
                stored.arefFailedStatus.reset();
            } else {
                stored.arefFailedStatus = write.status;
            }
            continue;
        }
        const int marker = write.bytes.size() == CalMarkerSize ? calRecordOfMarker(write.address) : -1;
        if (write.status != 0) {
            if (marker >= 0) {
                stored.markerFailedRecord = marker;
                stored.markerFailedStatus = write.status;
            }
            continue;
        }
        if (write.address == DacRangeCountAddress && write.bytes.size() == 2) {
            stored.dacRange = quint8(write.bytes.at(0));
            stored.dacCount = quint8(write.bytes.at(1));
        } else if (calRecordOfBlock(write.address) >= 0 && write.bytes.size() == CalBlockSize) {
            const std::array<float, 8> values = calBlockValues(write.bytes);
            std::array<StoredCalibration::Dac, 4> dacs;
            for (size_t i = 0; i < 4; ++i)
                dacs[i] = {values[2 * i], values[2 * i + 1]};
            stored.dacs = dacs;
            valid.fill(false);
        } else if (marker >= 0) {
            valid[size_t(marker)] = noteMarker(stored, marker, write.bytes);
        }
    }
    stored.dacsMarkedValid = stored.dacs && valid == std::array<bool, 4>{true, true, true, true};
    return stored;
}

QString dacRangeText(int range)
{
    switch (range) {
    case 0: return QStringLiteral("0-5 V");
    case 1: return QStringLiteral("\u00B15 V");
    case 2: return QStringLiteral("0-10 V");
    case 3: return QStringLiteral("\u00B110 V");
    default: return QString::number(range);
    }
}

} // namespace quillon::records
