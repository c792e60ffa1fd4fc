#include "NotesText.h"

#include <iterator>

namespace quillon {

namespace {

constexpr char16_t Notes[] =
    u"Production Test Differences are as follows:\r\n"
    u"\r\n"
    u"DIO -> Korvo non-mux: DIO A looped to DIO B\r\n"
    u"       Korvo mux: DIO B (8-11; output only) looped to DIO A (0-3 & 4-7; input           only)\r\n"
    u"\r\n"
    u"Voltage Ladder -> Korvo non-mux: 16 voltages created\r\n"
    u"\t\t  Korvo 32-based mux: 16 voltages created; applies to channels \r\n"
    u"\t\t  0-15, 16-31, ..., up to 112-127\r\n"
    u"\t\t  Korvo 64M-based mux: 4 voltages created;  applies to channels\r\n"
    u"\t\t  0-3, 4-7, 8-11, ..., 60-63.  Note that channel 0 has the third\r\n"
    u"                  voltage in the ladder applied so that it can generate a \t\t  \t\t  non-zero differential "
    u"voltage.  This is because its differential \t\t\t  pair channel is channel 32.\r\n"
    u"\r\n"
    u"A/D Differential Bipolar test -> Korvo non-mux & 64M-based mux: Applicable\r\n"
    u"\t\t\t\t Korvo 32-based mux: Not Applicable\r\n"
    u"\r\n"
    u"\r\n"
    u"DIO Loopback\r\n"
    u"============\r\n"
    u"\r\n"
    u"This tests for solder bridges in the DIO pins and DIO Dir pins\r\n"
    u"\r\n"
    u"1) Write 256 bytes (0x00 to 0xFF) from A to B.\r\n"
    u"2) Write 256 bytes (0x00 to 0xFF) from B to A.\r\n"
    u"\r\n"
    u"A/D Clocks\r\n"
    u"==========\r\n"
    u"\r\n"
    u"This tests for solder bridges on the counter, adc control lines, gpif control lines, and external trigger.\r\n"
    u"\t\r\n"
    u"1) Take a scan clocked by Counter 2. Make sure we got 16 samples at the right time.\r\n"
    u"2) Take a scan clocked by Counter 0, through the external trigger. Make sure we got 16 samples at the right "
    u"time.\r\n"
    u"\r\n"
    u"Calibration Voltages\r\n"
    u"====================\r\n"
    u"\r\n"
    u"This makes sure the reference voltages are working properly.\r\n"
    u"\t\r\n"
    u"1) Use software start(GetImmediate) to read the AGND and AREF voltages, and make sure AGND is within "
    u"\u00B1.00595V of .0114V, and AREF is within \u00B1.0299V of 9.9V.\r\n"
    u"\r\n"
    u"Address/Data Lines\r\n"
    u"==================\r\n"
    u"\r\n"
    u"This test for solder bridges on the address/data lines between the FX2 and the calibration SRAM.\r\n"
    u"\r\n"
    u"1) Ask the FX2 firmware to perform this test.\r\n"
    u"\r\n"
    u"A/D SE Unipolar\r\n"
    u"===============\r\n"
    u"\r\n"
    u"This tests for solder bridges in the adc data bits, single-ended/differential control bit, and unipolar/bipolar "
    u"control bit.  Also makes sure +12V rail is working properly.\r\n"
    u"\r\n"
    u"1) Take a scan manually \"cranked\" by Counter 2, and make sure the voltages are within \u00B1.5V of a "
    u"predefined ramp.\r\n"
    u"\r\n"
    u"A/D SE Bipolar\r\n"
    u"==============\r\n"
    u"\r\n"
    u"This tests for solder bridges for the unipolar/bipolar control bit.  Also makes sure the -12V rail is working "
    u"properly.\r\n"
    u"\r\n"
    u"1) Same as A/D SE Unipolar, but in a different mode and with negative target voltages.\r\n"
    u"\r\n"
    u"A/D Differential Bipolar\r\n"
    u"==========================\r\n"
    u"\r\n"
    u"This tests for solder bridges for the single-ended/differential control bit.\r\n"
    u"\r\n"
    u"1) Same as A/D SE Unipolar, but in a different mode and with a single target voltage.";

} // namespace

QStringView notesText()
{
    return QStringView(Notes, qsizetype(std::size(Notes) - 1));
}

} // namespace quillon
