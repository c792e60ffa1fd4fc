// The simulated board: identity, enumeration, the USB fault gate, vendor requests and
// the EEPROM. DIO, A/D and D/A physics live in SimDio.cpp, SimAdc.cpp and SimDac.cpp.
#include "sim/SimBoard.h"
#include "sim/SimStatus.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

namespace quillon::sim {

namespace {

constexpr int kEepromBytes = 8192;

// Vendor requests the firmware answers.
constexpr quint8 kRequestDac = 0xB3;      // read: firmware version; write: DAC frames, reload
constexpr quint8 kRequestEeprom = 0xA2;   // value = byte address
constexpr quint8 kRequestRevision = 0xA3; // value 0x8000, index 1
constexpr quint8 kRequestBusTest = 0x91;

} // namespace

std::int64_t steadyMicros()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

SimBoard::SimBoard(Clock clock, std::uint32_t seed)
    : m_clock(clock ? std::move(clock) : Clock(steadyMicros)), m_eeprom(kEepromBytes, 0xFF)
{
    reset(seed);
}

SimBoard::~SimBoard() = default;

void SimBoard::reset(std::uint32_t seed)
{
    m_rng.seed(seed);
    m_dioLatch = 0;
    m_dioMask = 0;
    m_calls = 0;
    m_clearDevices = 0;
    m_adcConfig.fill(0);
    m_calName.clear();
    m_counterHz = 0.0;
    m_counterStartUs = 0;
    m_ticksBefore = 0;
    m_bulkBuffer = nullptr;
    m_bulkBytes = 0;
    m_bulkDone = 0;
    m_ticksConsumed = 0;
    m_bulkConfig.fill(0);
    m_bulkChannel = 0;
    m_dacBoardRange = 0;
    for (auto &trace : m_scope)
        trace.clear();
    // Power-on: the firmware loads whatever valid calibration the EEPROM holds, and
    // the DACs come up at mid-scale.
    reloadCalibration();
    m_dacCodes.fill(0);
    for (int i = 0; i < 4; ++i)
        setDacCode(i, 0x8000);
}

void SimBoard::eraseEeprom()
{
    std::fill(m_eeprom.begin(), m_eeprom.end(), std::uint8_t(0xFF));
}

int SimBoard::channelCount() const
{
    const int variant = int(identity.productId & 0x1F);
    if (variant <= 4 || variant == 31)
        return 16;
    if (variant <= 9)
        return 64;
    return 32 * (variant / 5 - 1);
}

bool SimBoard::hasMultiplexer() const
{
    const int variant = int(identity.productId & 0x1F);
    return variant >= 5 && variant <= 30;
}

bool SimBoard::hasMux32Blocks() const
{
    const int variant = int(identity.productId & 0x1F);
    return variant >= 10 && variant <= 30;
}

QString SimBoard::description() const
{
    return QStringLiteral("Simulated board, product id %1 (quillon-sim: no hardware attached)")
        .arg(QString::number(identity.productId, 16).toUpper().rightJustified(4, QLatin1Char('0')));
}

void SimBoard::sleepMicros(int us)
{
    if (us > 0)
        std::this_thread::sleep_for(std::chrono::microseconds(us));
}

// The order matters: an unplugged board fails everything, including the call the
// fail-call fault points at; then the single failing call; then the device index.
std::optional<quint32> SimBoard::enterCallWithoutDevice()
{
    ++m_calls;
    if (faults.unplugAfterCalls >= 0 && m_calls > faults.unplugAfterCalls)
        return faults.unplugStatus;
    if (faults.failCallNumber > 0 && m_calls == faults.failCallNumber)
        return faults.failStatus;
    return std::nullopt;
}

std::optional<quint32> SimBoard::enterCall(qint32 device)
{
    if (auto failed = enterCallWithoutDevice())
        return failed;
    if (const quint32 status = deviceStatus(device))
        return status;
    return std::nullopt;
}

// diOnly needs exactly one board; an explicit index must name a present board.
quint32 SimBoard::deviceStatus(qint32 device) const
{
    const int present = std::clamp(identity.boardsPresent, 0, 32);
    if (device == diOnly) {
        if (present == 0)
            return status::FileNotFound;
        if (present > 1)
            return status::DuplicateName;
        return 0;
    }
    return (device >= 0 && device < present) ? 0 : status::FileNotFound;
}

quint32 SimBoard::GetDevices()
{
    // A mask, not a status: a failing or unplugged call sees no board at all.
    if (enterCallWithoutDevice())
        return 0;
    const int present = std::clamp(identity.boardsPresent, 0, 32);
    return present >= 32 ? 0xFFFFFFFFu : ((1u << present) - 1u);
}

quint32 SimBoard::QueryDeviceInfo(qint32 device, quint32 *productId, quint32 *nameSize, char *name, quint32 *dioBytes,
                                  quint32 *counters)
{
    if (auto failed = enterCallWithoutDevice())
        return *failed;
    // A forced answer overrides whatever the board count would give.
    if (device == diOnly && identity.forcedQueryStatus)
        return *identity.forcedQueryStatus;
    if (const quint32 status = deviceStatus(device))
        return status;

    if (productId)
        *productId = identity.productId;
    if (nameSize) {
        const QByteArray text = "SIM-" + QByteArray::number(identity.productId, 16).toUpper().rightJustified(4, '0');
        if (name && *nameSize > 0) {
            // Zero-terminated, truncated to the caller's buffer; the length excludes the zero.
            const quint32 copied = std::min<quint32>(quint32(text.size()), *nameSize - 1);
            std::memcpy(name, text.constData(), copied);
            name[copied] = '\0';
            *nameSize = copied;
        } else {
            *nameSize = quint32(text.size());
        }
    }
    if (dioBytes)
        *dioBytes = 2;
    if (counters)
        *counters = 1;
    return 0;
}

quint32 SimBoard::ClearDevices()
{
    if (auto failed = enterCallWithoutDevice())
        return *failed;
    ++m_clearDevices;
    return 0;
}

quint32 SimBoard::GenericVendorRead(qint32 device, quint8 request, quint16 value, quint16 index, quint32 *dataSize,
                                    void *data)
{
    if (auto failed = enterCall(device))
        return *failed;
    if (faults.failRequest >= 0 && faults.failRequest == request)
        return faults.failStatus;
    if (!dataSize || (*dataSize > 0 && !data))
        return status::InvalidParameter;
    sleepMicros(requestLatencyUs);

    auto reply = [&](const quint8 *bytes, quint32 available) {
        const quint32 n = std::min(*dataSize, available);
        std::memcpy(data, bytes, n);
        *dataSize = n;
        return quint32(0);
    };
    switch (request) {
    case kRequestDac: return reply(identity.firmwareReply.data(), quint32(identity.firmwareReply.size()));
    case kRequestRevision:
        if (value != 0x8000 || index != 1)
            return status::GenFailure;
        return reply(identity.revisionReply.data(), quint32(identity.revisionReply.size()));
    case kRequestBusTest: return reply(&identity.busTestVerdict, 1);
    case kRequestEeprom: return vendorEepromRead(value, dataSize, data);
    default: return status::GenFailure;
    }
}

quint32 SimBoard::GenericVendorWrite(qint32 device, quint8 request, quint16 value, quint16 index, quint32 dataSize,
                                     void *data)
{
    if (auto failed = enterCall(device))
        return *failed;
    if (faults.failRequest >= 0 && faults.failRequest == request)
        return faults.failStatus;
    if (dataSize > 0 && !data)
        return status::InvalidParameter;
    sleepMicros(requestLatencyUs);

    switch (request) {
    case kRequestEeprom: return vendorEepromWrite(value, dataSize, data);
    case kRequestDac:
        if (value != 0)
            return status::GenFailure;
        return vendorDacWrite(index, dataSize, data);
    default: return status::GenFailure;
    }
}

// Reads past the end of the EEPROM deliver what is there (possibly nothing).
quint32 SimBoard::vendorEepromRead(quint16 address, quint32 *dataSize, void *data)
{
    const qint64 available = std::max<qint64>(0, qint64(m_eeprom.size()) - address);
    qint64 n = std::min<qint64>(*dataSize, available);
    // The read faults hit every read, or only reads starting at one address.
    const bool faulty = faults.eepromFaultAddress < 0 || faults.eepromFaultAddress == address;
    if (faulty)
        n = std::max<qint64>(0, n - std::max(0, faults.eepromShortRead));
    auto *out = static_cast<quint8 *>(data);
    if (n > 0) {
        std::memcpy(out, m_eeprom.data() + address, size_t(n));
        if (faulty && faults.eepromCorruptReadback)
            out[0] ^= 0x01;
    }
    *dataSize = quint32(n);
    return 0;
}

// A write either lands whole or not at all.
quint32 SimBoard::vendorEepromWrite(quint16 address, quint32 dataSize, const void *data)
{
    if (faults.eepromFailWriteAddress >= 0 && faults.eepromFailWriteAddress == address)
        return faults.eepromFailStatus;
    if (quint64(address) + dataSize > m_eeprom.size())
        return status::GenFailure;
    if (dataSize > 0)
        std::memcpy(m_eeprom.data() + address, data, dataSize);
    return 0;
}

quint32 SimBoard::ADC_QueryCal(qint32 device)
{
    if (auto failed = enterCall(device))
        return *failed;
    return identity.calSupported ? 0 : status::NotSupported;
}

// The library keeps the selected calibration by name; the model converts one to one
// whatever is selected, so only the selection itself is remembered.
quint32 SimBoard::ADC_SetCal(qint32 device, const char *calFileName)
{
    if (auto failed = enterCall(device))
        return *failed;
    if (!calFileName)
        return status::InvalidParameter;
    if (!identity.calSupported)
        return status::NotSupported;
    const QByteArray name(calFileName);
    if (!name.startsWith(':'))
        return status::FileNotFound; // no calibration files on the simulated bench
    m_calName = name;
    return 0;
}

} // namespace quillon::sim
