#include "records/StoredCalibration.h"

#include <bit>
#include <cstring>

namespace quillon::records {

namespace {

// The board's EEPROM layout of the calibration area.
constexpr int RecordBase = 7520;
constexpr int RecordSize = 36;
constexpr int BlockSize = 32;
constexpr int RangeCountAddress = 7664;
constexpr int ArefAddress = 7666;

float bigEndianSingle(const QByteArray &bytes, int at)
{
    const auto *b = reinterpret_cast<const unsigned char *>(bytes.constData()) + at;
    const quint32 word = (quint32(b[0]) << 24) | (quint32(b[1]) << 16) | (quint32(b[2]) << 8) | quint32(b[3]);
    return std::bit_cast<float>(word);
}

// The record (0 to 3) whose marker or block starts at address, or -1.
int recordAt(int address, int offsetInRecord)
{
    const int relative = address - RecordBase - offsetInRecord;
    if (relative < 0 || relative % RecordSize != 0 || relative / RecordSize > 3)
        return -1;
    return relative / RecordSize;
}

} // namespace

StoredCalibration decodeStoredCalibration(const std::vector<EepromWrite> &writes)
{
    StoredCalibration stored;
    std::array<bool, 4> valid{};
    for (const EepromWrite &write : writes) {
        if (write.address == ArefAddress && write.bytes.size() == 2) {
            if (write.status == 0) {
                stored.arefWord = quint16(quint8(write.bytes.at(0)) | (quint8(write.bytes.at(1)) << 8));
                stored.arefFailedStatus.reset();
            } else {
                stored.arefFailedStatus = write.status;
            }
            continue;
        }
        if (write.status != 0)
            continue;
        if (write.address == RangeCountAddress && write.bytes.size() == 2) {
            stored.dacRange = quint8(write.bytes.at(0));
            stored.dacCount = quint8(write.bytes.at(1));
        } else if (recordAt(write.address, 4) >= 0 && write.bytes.size() == BlockSize) {
            std::array<StoredCalibration::Dac, 4> dacs;
            for (int i = 0; i < 4; ++i)
                dacs[i] = {bigEndianSingle(write.bytes, 8 * i), bigEndianSingle(write.bytes, 8 * i + 4)};
            stored.dacs = dacs;
            valid.fill(false);
        } else if (const int record = recordAt(write.address, 0); record >= 0 && write.bytes.size() == 4) {
            valid[record] = write.bytes == QByteArrayLiteral("DACC");
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
