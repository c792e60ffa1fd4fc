#include "station/Detection.h"

#include "device/DeviceLibrary.h"
#include "station/Operator.h"
#include "station/Station.h"

#include <array>

namespace quillon {

namespace {

// The program's own code for "found a board, but of another kind".
constexpr quint32 WrongBoardStatus = 1349;
constexpr quint32 DuplicateNameStatus = 52;
constexpr quint32 FileNotFoundStatus = 2;

constexpr quint8 FirmwareCheckRequest = 0xB3;
constexpr quint8 RevisionRequest = 0xA3;

bool isSupported(quint32 productId)
{
    return (productId & 0xFEE0) == 0x8040;
}

// Shows the Retry/Cancel box for a failed attempt; true when the operator retries.
bool askRetry(Operator &op, quint32 status)
{
    QString caption;
    QString text;
    switch (status) {
    case DuplicateNameStatus:
        caption = QStringLiteral("Multi-Board Error");
        text = QStringLiteral("Failed to use diOnly; there appear to be multiple Calder USB boards plugged in.");
        break;
    case FileNotFoundStatus:
        caption = QStringLiteral("No-Board Error");
        text = QStringLiteral("Failed to use diOnly; there doesn't appear to be an Calder USB board plugged in.");
        break;
    case WrongBoardStatus:
        caption = QStringLiteral("Wrong-Board Error");
        text = QStringLiteral("Failed to find a matching board, but found a non-matching board.");
        break;
    default:
        caption = QStringLiteral("No-Board Error");
        text = QStringLiteral("Failed board detection with Windows error %1. Ask the Software department about "
                              "this Windows error code for details.")
                   .arg(status);
        break;
    }
    // Only an explicit Retry tries again: a box closed any other way gives up, so
    // detection can never spin on an answer nobody gave.
    return op.messageBox(BoxStyle::RetryCancel, caption, text) == IdRetry;
}

// Configuration from the product id and the revision answer.
BoardConfig configFor(quint32 productId, bool newRevision)
{
    BoardConfig cfg;
    cfg.NewRevision = newRevision;
    cfg.DioMask = newRevision ? 255 : 15;
    cfg.DioSpread = newRevision ? 1 : 17;

    const quint32 b = productId & 0x7EBF;
    const int variant = b == 31 ? -1 : static_cast<int>(b / 5);
    switch (variant) {
    case -1:
    case 0:
        cfg.ChannelCount = 16;
        cfg.DioMask = 255;
        cfg.DioSpread = 1;
        break;
    case 1: cfg.ChannelCount = 64; break;
    default: cfg.ChannelCount = 32 * (variant - 1); break;
    }
    cfg.Mux32 = variant >= 2;
    cfg.DiffApplies = variant <= 1;
    cfg.HasDacs = (productId & 0x100) != 0;
    return cfg;
}

} // namespace

DetectResult detectBoard(DeviceLibrary &lib, Operator &op, StationState &state)
{
    state.dacRange.DacRange = -1;

    DetectResult result;
    quint32 productId = 0;
    for (;;) {
        std::array<char, 256> name{};
        const quint32 mask = lib.GetDevices();
        for (int i = 0; i < 32; ++i) {
            if (mask & (quint32(1) << i)) {
                quint32 nameSize = name.size();
                lib.QueryDeviceInfo(i, nullptr, &nameSize, name.data(), nullptr, nullptr);
            }
        }

        productId = 0;
        quint32 status = lib.QueryDeviceInfo(diOnly, &productId, nullptr, nullptr, nullptr, nullptr);
        if (status == 0 && isSupported(productId))
            break;
        if (status == 0)
            status = WrongBoardStatus;

        const bool retry = askRetry(op, status);
        lib.ClearDevices();
        if (!retry)
            return result;
    }
    result.found = true;

    result.calSupported = lib.ADC_QueryCal(diOnly) == 0;

    // Both vendor reads share one buffer: the revision read sees what the firmware
    // check left in bytes 0 and 1 when it delivers nothing.
    std::array<quint8, 4> reply{};
    quint32 size = 4;
    lib.GenericVendorRead(diOnly, FirmwareCheckRequest, 0, 0, &size, reply.data());
    if (reply[0] > 1 || reply[1] > 1 || reply[2] != 0 || reply[3] != 0) {
        op.messageBox(BoxStyle::Warning, QStringLiteral("Old Firmware Warning"),
                      QStringLiteral("This computer's 8140.spt firmware file is out of date. DAC Calibration won't "
                                     "pass testing; please update your drivers for a proper test."));
    }

    size = 2;
    lib.GenericVendorRead(diOnly, RevisionRequest, 0x8000, 1, &size, reply.data());
    bool newRevision = false;
    if (reply[0] == 0) {
        op.messageBox(BoxStyle::Warning, QStringLiteral("Old Firmware Warning"),
                      QStringLiteral("This computer's Vexlo.sys or 8140.spt driver file is out of date. Assuming rev D "
                                     "or earlier; please update your drivers for a proper test."));
    } else {
        newRevision = reply[1] != 0;
    }

    state.board = configFor(productId, newRevision);
    return result;
}

} // namespace quillon
