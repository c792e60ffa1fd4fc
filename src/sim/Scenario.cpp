#include "sim/Scenario.h"

#include "sim/FaultTable.h"
#include "station/RowRegistry.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QLocale>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <functional>
#include <limits>
#include <type_traits>

namespace quillon::sim {

QString ScenarioError::text() const
{
    return key.isEmpty() ? message : key + QStringLiteral(": ") + message;
}

namespace {

using Error = std::optional<ScenarioError>;
// Applies a value found at `path`; returns the fault, if any.
using Apply = std::function<Error(const QString &path, const QJsonValue &value, Scenario &s)>;

struct Entry {
    ScenarioKey key;
    Apply apply; // null for keys inside an array item (documented, read by their parent)
};

Error fault(const QString &path, const QString &expected)
{
    return ScenarioError{path, QStringLiteral("expected ") + expected};
}

QString integerText(qint64 min, qint64 max)
{
    return QStringLiteral("an integer from %1 to %2 (a number, or a \"0x...\" hex string)").arg(min).arg(max);
}

// A whole number, or a "0x..." hex string, within [min, max].
std::optional<qint64> integer(const QJsonValue &v, qint64 min, qint64 max)
{
    qint64 n = 0;
    if (v.isDouble()) {
        const double d = v.toDouble();
        if (!std::isfinite(d) || std::floor(d) != d || d < -9.0e15 || d > 9.0e15)
            return std::nullopt;
        n = qint64(d);
    } else if (v.isString()) {
        const QString s = v.toString();
        if (!s.startsWith(QLatin1String("0x")) && !s.startsWith(QLatin1String("0X")))
            return std::nullopt;
        bool ok = false;
        const QStringView digits = QStringView(s).mid(2);
        if (digits.isEmpty() || digits.size() > 15)
            return std::nullopt;
        for (QChar c : digits)
            if (c.unicode() > 127 || !std::isxdigit(c.toLatin1()))
                return std::nullopt;
        n = digits.toLongLong(&ok, 16);
        if (!ok)
            return std::nullopt;
    } else {
        return std::nullopt;
    }
    if (n < min || n > max)
        return std::nullopt;
    return n;
}

template <typename Get>
Entry intEntry(const char *path, Get get, qint64 min, qint64 max)
{
    const QString expected = integerText(min, max);
    return {{QLatin1String(path), expected},
            [get, min, max, expected](const QString &p, const QJsonValue &v, Scenario &s) -> Error {
                const auto n = integer(v, min, max);
                if (!n)
                    return fault(p, expected);
                using T = std::remove_reference_t<decltype(get(s))>;
                get(s) = T(*n);
                return std::nullopt;
            }};
}

template <typename Get>
Entry unsignedEntry(const char *path, Get get)
{
    using T = std::remove_reference_t<decltype(get(std::declval<Scenario &>()))>;
    return intEntry(path, get, 0, qint64(std::numeric_limits<T>::max()));
}

template <typename Get>
Entry boolEntry(const char *path, Get get)
{
    return {{QLatin1String(path), QStringLiteral("true or false")},
            [get](const QString &p, const QJsonValue &v, Scenario &s) -> Error {
                if (!v.isBool())
                    return fault(p, QStringLiteral("true or false"));
                get(s) = v.toBool();
                return std::nullopt;
            }};
}

template <typename Get>
Entry voltsEntry(const char *path, Get get)
{
    const QString expected = QStringLiteral("a number of volts from -100 to 100");
    return {{QLatin1String(path), expected},
            [get, expected](const QString &p, const QJsonValue &v, Scenario &s) -> Error {
                if (!v.isDouble() || !std::isfinite(v.toDouble()) || std::abs(v.toDouble()) > 100.0)
                    return fault(p, expected);
                get(s) = v.toDouble();
                return std::nullopt;
            }};
}

template <size_t N, typename Get>
Entry bytesEntry(const char *path, Get get)
{
    const QString expected = QStringLiteral("an array of %1 bytes (each 0-255 or \"0x..\")").arg(N);
    return {{QLatin1String(path), expected},
            [get, expected](const QString &p, const QJsonValue &v, Scenario &s) -> Error {
                if (!v.isArray() || v.toArray().size() != qsizetype(N))
                    return fault(p, expected);
                const QJsonArray a = v.toArray();
                std::array<quint8, N> bytes{};
                for (size_t i = 0; i < N; ++i) {
                    const auto b = integer(a[qsizetype(i)], 0, 255);
                    if (!b)
                        return fault(QStringLiteral("%1[%2]").arg(p).arg(i), integerText(0, 255));
                    bytes[i] = quint8(*b);
                }
                get(s) = bytes;
                return std::nullopt;
            }};
}

// "3F 80 00 00" or "3F800000": whole bytes of hex digits, blanks between bytes allowed.
std::optional<QByteArray> hexBytes(const QString &text)
{
    QString digits;
    for (QChar c : text) {
        if (c == QLatin1Char(' '))
            continue;
        if (c.unicode() > 127 || !std::isxdigit(c.toLatin1()))
            return std::nullopt;
        digits += c;
    }
    if (digits.isEmpty() || digits.size() % 2 != 0)
        return std::nullopt;
    return QByteArray::fromHex(digits.toLatin1());
}

Error applyEeprom(const QString &path, const QJsonValue &v, Scenario &s)
{
    if (!v.isObject())
        return fault(path, QStringLiteral("an object of address: \"hex bytes\" pairs"));
    const QJsonObject o = v.toObject();
    for (auto it = o.begin(); it != o.end(); ++it) {
        const QString at = path + QLatin1Char('.') + it.key();
        bool ok = false;
        int address =
            it.key().startsWith(QLatin1String("0x")) ? it.key().mid(2).toInt(&ok, 16) : it.key().toInt(&ok, 10);
        if (!ok || address < 0 || address > 8191)
            return ScenarioError{at,
                                 QStringLiteral("expected an EEPROM address 0-8191 as the key (decimal or \"0x...\")")};
        const auto bytes = it.value().isString() ? hexBytes(it.value().toString()) : std::nullopt;
        if (!bytes)
            return fault(at, QStringLiteral("a string of hex bytes, e.g. \"3F 80 00 00\""));
        if (address + bytes->size() > 8192)
            return ScenarioError{at, QStringLiteral("bytes run past the end of the 8192-byte EEPROM")};
        s.eeprom.append({address, *bytes});
    }
    return std::nullopt;
}

Error applyLocale(const QString &path, const QJsonValue &v, Scenario &s)
{
    const QString expected = QStringLiteral("a locale name such as \"de_DE\", \"en_US\" or \"C\"");
    if (!v.isString())
        return fault(path, expected);
    const QString name = v.toString();
    if (name != QLatin1String("C") && QLocale(name).name() != name)
        return fault(path, expected);
    s.locale = name;
    return std::nullopt;
}

const QStringList &buttonNames()
{
    static const QStringList names{QStringLiteral("OK"),  QStringLiteral("Cancel"), QStringLiteral("Retry"),
                                   QStringLiteral("Yes"), QStringLiteral("No"),     QStringLiteral("Close")};
    return names;
}

// The digit of a registered row: "0"-"9", "A" (or "a").
std::optional<int> rowDigit(const QJsonValue &v)
{
    if (!v.isString() || v.toString().size() != 1)
        return std::nullopt;
    bool ok = false;
    const int row = v.toString().toInt(&ok, 16);
    if (!ok || row < 0 || row >= int(rowRegistry().size()))
        return std::nullopt;
    return row;
}

// --- technician overrides: one reader per key of an override object ---

Error readCaption(const QString &at, const QJsonValue &val, TechnicianOverride &ov)
{
    if (!val.isString() || val.toString().isEmpty())
        return fault(at, QStringLiteral("the prompt's caption, or \"@\" and a prompt kind"));
    ov.caption = val.toString();
    return std::nullopt;
}

Error readPress(const QString &at, const QJsonValue &val, TechnicianOverride &ov)
{
    if (!val.isString() || !buttonNames().contains(val.toString()))
        return fault(at, QStringLiteral("one of ") + buttonNames().join(QStringLiteral(", ")));
    ov.press = val.toString();
    return std::nullopt;
}

Error readType(const QString &at, const QJsonValue &val, TechnicianOverride &ov)
{
    if (!val.isString())
        return fault(at, QStringLiteral("the text to type"));
    ov.type = val.toString();
    return std::nullopt;
}

Error readFields(const QString &at, const QJsonValue &val, TechnicianOverride &ov)
{
    if (!val.isArray() || val.toArray().size() > 4)
        return fault(at, QStringLiteral("an array of at most 4 field texts (null: the technician measures)"));
    QList<std::optional<QString>> fields;
    for (const QJsonValue f : val.toArray()) {
        if (f.isNull())
            fields << std::nullopt;
        else if (f.isString())
            fields << f.toString();
        else
            return fault(QStringLiteral("%1[%2]").arg(at).arg(fields.size()), QStringLiteral("a text or null"));
    }
    ov.fields = fields;
    return std::nullopt;
}

Error readRange(const QString &at, const QJsonValue &val, TechnicianOverride &ov)
{
    const auto r = integer(val, 0, 3);
    if (!r)
        return fault(at, QStringLiteral("a DAC range item 0-3 (0-5 V, \u00B15 V, 0-10 V, \u00B110 V)"));
    ov.range = int(*r);
    return std::nullopt;
}

Error readPicks(const QString &at, const QJsonValue &val, TechnicianOverride &ov)
{
    if (!val.isArray())
        return fault(at, QStringLiteral("an array of items 0-2 (Min, Mid, Max)"));
    QList<int> picks;
    for (const QJsonValue p : val.toArray()) {
        const auto n = integer(p, 0, 2);
        if (!n)
            return fault(QStringLiteral("%1[%2]").arg(at).arg(picks.size()),
                         QStringLiteral("an item 0-2 (Min, Mid, Max)"));
        picks << int(*n);
    }
    ov.picks = picks;
    return std::nullopt;
}

struct OverrideKey {
    const char *name;
    bool action; // at most one action per override
    Error (*read)(const QString &at, const QJsonValue &val, TechnicianOverride &ov);
};

constexpr OverrideKey OverrideKeys[] = {
    {"caption", false, readCaption}, {"press", false, readPress}, {"type", true, readType},
    {"fields", true, readFields},    {"range", true, readRange},  {"picks", true, readPicks},
};

Error readOverride(const QString &item, const QJsonObject &o, TechnicianOverride &ov)
{
    int actions = 0;
    for (auto it = o.begin(); it != o.end(); ++it) {
        const QString at = item + QLatin1Char('.') + it.key();
        const auto key = std::find_if(std::begin(OverrideKeys), std::end(OverrideKeys),
                                      [&it](const OverrideKey &k) { return it.key() == QLatin1String(k.name); });
        if (key == std::end(OverrideKeys))
            return ScenarioError{at,
                                 QStringLiteral("unknown key (expected caption, press, type, fields, range or picks)")};
        if (auto err = key->read(at, it.value(), ov))
            return err;
        actions += key->action ? 1 : 0;
    }
    if (ov.caption.isEmpty())
        return ScenarioError{item + QStringLiteral(".caption"),
                             QStringLiteral("missing: every override names its prompt")};
    if (actions > 1)
        return ScenarioError{item, QStringLiteral("expected at most one of type, fields, range, picks")};
    if (actions == 0 && !ov.press)
        return ScenarioError{item, QStringLiteral("expected an action: press, type, fields, range or picks")};
    return std::nullopt;
}

Error applyTechnician(const QString &path, const QJsonValue &v, Scenario &s)
{
    if (!v.isArray())
        return fault(path, QStringLiteral("an array of override objects"));
    const QJsonArray a = v.toArray();
    for (qsizetype i = 0; i < a.size(); ++i) {
        const QString item = QStringLiteral("%1[%2]").arg(path).arg(i);
        if (!a[i].isObject())
            return fault(item, QStringLiteral("an object with \"caption\" and an action"));
        TechnicianOverride ov;
        if (auto err = readOverride(item, a[i].toObject(), ov))
            return err;
        s.technician << ov;
    }
    return std::nullopt;
}

// --- steps ---

// {"key": value}: a step that names a row or a setting.
Error readStepObject(const QString &item, const QJsonObject &o, ScenarioStep &step)
{
    const QString key = o.begin().key();
    const QJsonValue val = o.begin().value();
    const QString at = item + QLatin1Char('.') + key;
    if (key == QLatin1String("test")) {
        const auto row = rowDigit(val);
        if (!row)
            return fault(at, QStringLiteral("a row digit \"0\"-\"9\" or \"A\""));
        step.kind = ScenarioStep::Kind::Test;
        step.row = *row;
    } else if (key == QLatin1String("details")) {
        const bool cyclic = val.isString() && val.toString() == QLatin1String("cyclic");
        const auto row = cyclic ? std::optional<int>(-1) : rowDigit(val);
        if (!row)
            return fault(at, QStringLiteral("a row digit \"0\"-\"9\", \"A\", or \"cyclic\""));
        step.kind = ScenarioStep::Kind::Details;
        step.row = *row;
    } else if (key == QLatin1String("correction")) {
        if (!val.isBool())
            return fault(at, QStringLiteral("true or false"));
        step.kind = ScenarioStep::Kind::Correction;
        step.checked = val.toBool();
    } else if (key == QLatin1String("monitor")) {
        const auto n = integer(val, 1, 1000);
        if (!n)
            return fault(at, QStringLiteral("a number of cycles from 1 to 1000"));
        step.kind = ScenarioStep::Kind::Monitor;
        step.cycles = int(*n);
    } else {
        return ScenarioError{at, QStringLiteral("unknown step (expected test, details, correction or monitor)")};
    }
    return std::nullopt;
}

Error applySteps(const QString &path, const QJsonValue &v, Scenario &s)
{
    if (!v.isArray())
        return fault(path, QStringLiteral("an array of steps"));
    const QJsonArray a = v.toArray();
    const QString expectedStep =
        QStringLiteral("\"detect\", \"testAll\", or an object with one of test, details, correction, monitor");
    for (qsizetype i = 0; i < a.size(); ++i) {
        const QString item = QStringLiteral("%1[%2]").arg(path).arg(i);
        ScenarioStep step;
        if (a[i] == QJsonValue(QStringLiteral("detect"))) {
            step.kind = ScenarioStep::Kind::Detect;
        } else if (a[i] == QJsonValue(QStringLiteral("testAll"))) {
            step.kind = ScenarioStep::Kind::TestAll;
        } else if (a[i].isObject() && a[i].toObject().size() == 1) {
            if (auto err = readStepObject(item, a[i].toObject(), step))
                return err;
        } else {
            return fault(item, expectedStep);
        }
        s.steps << step;
    }
    return std::nullopt;
}

// faults.<key>, as the fault table defines it.
Entry faultEntry(const FaultSetting &setting)
{
    const QString path = QStringLiteral("faults.") + setting.key;
    const FaultField field = setting.field;
    const double min = setting.minimum;
    const double max = setting.maximum;
    switch (setting.kind) {
    case FaultKind::Flag:
        return {{path, QStringLiteral("true or false")},
                [field](const QString &p, const QJsonValue &v, Scenario &s) -> Error {
                    if (!v.isBool())
                        return fault(p, QStringLiteral("true or false"));
                    setFaultValue(s.faults, field, v.toBool() ? 1.0 : 0.0);
                    return std::nullopt;
                }};
    case FaultKind::Integer: {
        const QString expected = integerText(qint64(min), qint64(max));
        return {{path, expected},
                [field, min, max, expected](const QString &p, const QJsonValue &v, Scenario &s) -> Error {
                    const auto n = integer(v, qint64(min), qint64(max));
                    if (!n)
                        return fault(p, expected);
                    setFaultValue(s.faults, field, double(*n));
                    return std::nullopt;
                }};
    }
    case FaultKind::Volts: break;
    }
    const QString expected = QStringLiteral("a number of volts from %1 to %2").arg(min).arg(max);
    return {{path, expected}, [field, min, max, expected](const QString &p, const QJsonValue &v, Scenario &s) -> Error {
                const double volts = v.toDouble();
                if (!v.isDouble() || !std::isfinite(volts) || volts < min || volts > max)
                    return fault(p, expected);
                setFaultValue(s.faults, field, volts);
                return std::nullopt;
            }};
}

Entry custom(const char *path, const char *expected, Apply apply)
{
    return {{QLatin1String(path), QLatin1String(expected)}, std::move(apply)};
}

Entry documented(const char *path, const char *expected)
{
    return {{QLatin1String(path), QLatin1String(expected)}, nullptr};
}

// Each names the member a key sets (the lambda is parenthesised so a macro stays one expression).
#define BOARD(name) ([](Scenario & s) -> auto & { return s.board.name; })
#define JIG(name) ([](Scenario & s) -> auto & { return s.jig.name; })

const QList<Entry> &entries()
{
    static const QList<Entry> entries = [] {
        QList<Entry> table{
            custom("description", "a text (not used by the run)",
                   [](const QString &p, const QJsonValue &v, Scenario &s) -> Error {
                       if (!v.isString())
                           return fault(p, QStringLiteral("a text"));
                       s.description = v.toString();
                       return std::nullopt;
                   }),
            unsignedEntry("board.productId", BOARD(productId)),
            intEntry("board.boardsPresent", BOARD(boardsPresent), 0, 32),
            custom("board.queryStatus", "an integer from 0 to 4294967295: the status QueryDeviceInfo(diOnly) answers",
                   [](const QString &p, const QJsonValue &v, Scenario &s) -> Error {
                       const auto n = integer(v, 0, 0xFFFFFFFFLL);
                       if (!n)
                           return fault(p, integerText(0, 0xFFFFFFFFLL));
                       s.board.forcedQueryStatus = quint32(*n);
                       return std::nullopt;
                   }),
            bytesEntry<4>("board.firmwareReply", BOARD(firmwareReply)),
            bytesEntry<2>("board.revisionReply", BOARD(revisionReply)),
            boolEntry("board.calSupported", BOARD(calSupported)),
            unsignedEntry("board.busTestVerdict", BOARD(busTestVerdict)),
            intEntry("board.dacRange", BOARD(dacJumperRange), 0, 3),
            boolEntry("board.newerThanRevD", BOARD(newerThanRevD)),
            custom("board.eeprom", "an object of address: \"hex bytes\" pairs", applyEeprom),
        };
        for (const FaultSetting &setting : faultSettings())
            table << faultEntry(setting);
        table << QList<Entry>{
            boolEntry("jig.connected", JIG(connected)),
            boolEntry("jig.sourceOn", JIG(sourceOn)),
            custom("jig.polarity", "+1 or -1",
                   [](const QString &p, const QJsonValue &v, Scenario &s) -> Error {
                       const auto n = integer(v, -1, 1);
                       if (!n || *n == 0)
                           return fault(p, QStringLiteral("1 or -1"));
                       s.jig.polarity = int(*n);
                       return std::nullopt;
                   }),
            voltsEntry("jig.sourceVolts", JIG(sourceVolts)),

            custom("technician", "an array of overrides, matched by caption in order of appearance", applyTechnician),
            documented("technician[].caption", "the prompt's caption, or \"@\" + a prompt kind"),
            documented("technician[].press", "OK, Cancel, Retry, Yes, No or Close"),
            documented("technician[].type", "text typed into the text prompt"),
            documented("technician[].fields", "DAC reading field texts by DAC; null: the technician measures"),
            documented("technician[].range", "DAC range item 0-3"),
            documented("technician[].picks", "D/A Cal Check items 0-2, in order"),

            custom("locale", "a locale name such as \"de_DE\"", applyLocale),
            intEntry(
                "latencyUs", [](Scenario & s) -> auto & { return s.latencyUs.emplace(); }, 0, 1000000),

            custom("records", "a file name: the run is recorded into this records file",
                   [](const QString &p, const QJsonValue &v, Scenario &s) -> Error {
                       if (!v.isString() || v.toString().isEmpty())
                           return fault(p, QStringLiteral("a file name"));
                       s.records = v.toString();
                       return std::nullopt;
                   }),

            custom("steps", "an array of steps", applySteps),
            documented("steps[].detect", "the string \"detect\": click Detect"),
            documented("steps[].testAll", "the string \"testAll\": click Test All"),
            documented("steps[].test", "{\"test\": \"5\"}: click row 5's Test button"),
            documented("steps[].details", "{\"details\": \"3\"} or {\"details\": \"cyclic\"}: toggle Details"),
            documented("steps[].correction", "{\"correction\": true}: set the 30mV Correction box"),
            documented("steps[].monitor", "{\"monitor\": 3}: run the A/D monitor for 3 listings"),
        };
        return table;
    }();
    return entries;
}

#undef BOARD
#undef JIG

const Entry *findEntry(const QString &path)
{
    for (const Entry &e : entries())
        if (e.apply && e.key.path == path)
            return &e;
    return nullptr;
}

QStringList keysUnder(const QString &prefix)
{
    QStringList keys;
    for (const Entry &e : entries()) {
        if (!e.apply)
            continue;
        QString rest = e.key.path;
        if (!prefix.isEmpty()) {
            if (!rest.startsWith(prefix + QLatin1Char('.')))
                continue;
            rest = rest.mid(prefix.size() + 1);
        }
        const QString first = rest.section(QLatin1Char('.'), 0, 0);
        if (!keys.contains(first))
            keys << first;
    }
    return keys;
}

Error readObject(const QString &prefix, const QJsonObject &object, Scenario &s)
{
    for (auto it = object.begin(); it != object.end(); ++it) {
        const QString path = prefix.isEmpty() ? it.key() : prefix + QLatin1Char('.') + it.key();
        if (const Entry *e = findEntry(path)) {
            if (auto err = e->apply(path, it.value(), s))
                return err;
            continue;
        }
        const QStringList below = keysUnder(path);
        if (below.isEmpty())
            return ScenarioError{
                path,
                QStringLiteral("unknown key (expected one of %1)").arg(keysUnder(prefix).join(QStringLiteral(", ")))};
        if (!it.value().isObject())
            return fault(path, QStringLiteral("an object with keys ") + below.join(QStringLiteral(", ")));
        if (auto err = readObject(path, it.value().toObject(), s))
            return err;
    }
    return std::nullopt;
}

// An object or array open at some point of the text.
struct JsonFrame {
    bool object = false;
    QString path;
    QStringList keys;
    int index = 0;
    bool expectKey = true;
    QString key;
};

// The path of the value that starts next in the innermost open object or array.
QString childPath(const QList<JsonFrame> &stack)
{
    if (stack.isEmpty())
        return QString();
    const JsonFrame &f = stack.last();
    if (!f.object)
        return QStringLiteral("%1[%2]").arg(f.path).arg(f.index);
    return f.path.isEmpty() ? f.key : f.path + QLatin1Char('.') + f.key;
}

// Follows one character outside strings: opening, closing, separators.
void followStructure(char c, QList<JsonFrame> &stack)
{
    if (c == '{' || c == '[') {
        JsonFrame frame;
        frame.object = c == '{';
        frame.path = childPath(stack);
        stack.append(frame);
        return;
    }
    if (stack.isEmpty())
        return;
    if (c == '}' || c == ']') {
        stack.removeLast();
    } else if (c == ',') {
        ++stack.last().index;
        stack.last().expectKey = true;
    } else if (c == ':') {
        stack.last().expectKey = false;
    }
}

// The JSON reader keeps only one of two equal keys in an object; a scenario with a key
// written twice is refused instead. json is known to be valid JSON here.
std::optional<QString> duplicateKey(const QByteArray &json)
{
    QList<JsonFrame> stack;
    for (qsizetype i = 0; i < json.size(); ++i) {
        if (json[i] != '"') {
            followStructure(json[i], stack);
            continue;
        }
        const qsizetype start = ++i;
        while (i < json.size() && json[i] != '"')
            i += json[i] == '\\' ? 2 : 1;
        if (stack.isEmpty() || !stack.last().object || !stack.last().expectKey)
            continue;
        JsonFrame &f = stack.last();
        f.key = QString::fromUtf8(json.mid(start, i - start));
        if (f.keys.contains(f.key))
            return childPath(stack);
        f.keys << f.key;
    }
    return std::nullopt;
}

} // namespace

std::optional<ScenarioError> readScenario(const QByteArray &json, Scenario &out)
{
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return ScenarioError{
            QString(),
            QStringLiteral("not valid JSON at offset %1: %2").arg(parseError.offset).arg(parseError.errorString())};
    if (!doc.isObject())
        return ScenarioError{QString(), QStringLiteral("expected a JSON object at the top level")};
    if (const auto key = duplicateKey(json))
        return ScenarioError{*key, QStringLiteral("written twice (only one value can hold)")};
    Scenario s;
    if (auto err = readObject(QString(), doc.object(), s))
        return err;
    out = s;
    return std::nullopt;
}

const QList<ScenarioKey> &scenarioKeys()
{
    static const QList<ScenarioKey> keys = [] {
        QList<ScenarioKey> out;
        for (const Entry &e : entries())
            out << e.key;
        return out;
    }();
    return keys;
}

} // namespace quillon::sim
