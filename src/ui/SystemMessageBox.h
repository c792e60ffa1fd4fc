#pragma once

#include <QString>

class QMessageBox;
class QWidget;

namespace quillon {

// Message-box style flags and result codes in the system's numbering, shared by the
// operator's boxes and PolledQuestionBox (whose Buttons and Icon fields hold these flags).
namespace MessageBoxFlags {
inline constexpr int Ok = 0;
inline constexpr int OkCancel = 1;
inline constexpr int AbortRetryIgnore = 2;
inline constexpr int YesNoCancel = 3;
inline constexpr int YesNo = 4;
inline constexpr int RetryCancel = 5;
inline constexpr int ButtonMask = 0x0F;

inline constexpr int IconHand = 16;
inline constexpr int IconQuestion = 32;
inline constexpr int IconExclamation = 48;
inline constexpr int IconAsterisk = 64;
inline constexpr int IconMask = 0xF0;
} // namespace MessageBoxFlags

// Builds a plain-text box with the buttons and icon the flags name. The escape button
// (window button and Esc) is Cancel where there is one, else No, else the only button,
// so closing a box answers as the system would. The caller owns the box.
QMessageBox *createSystemMessageBox(int flags, const QString &caption, const QString &text, QWidget *parent = nullptr);

// The result code (IdOk, IdCancel, IdRetry, IdYes, IdNo, 3 Abort, 5 Ignore) of a
// finished box: the button clicked, or the escape button when it was closed otherwise.
int systemMessageBoxAnswer(const QMessageBox *box);

} // namespace quillon
