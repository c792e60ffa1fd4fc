#pragma once

#include <QtGlobal>

// Status codes the simulated library returns: the system error codes a real library
// reports for the same conditions. Shared by the parts of the simulated board.
namespace quillon::sim::status {

inline constexpr quint32 FileNotFound = 2; // no board
inline constexpr quint32 BadLength = 24;   // a request of the wrong size
inline constexpr quint32 GenFailure = 31;  // the device did not do it
inline constexpr quint32 NotSupported = 50;
inline constexpr quint32 DuplicateName = 52;    // several boards
inline constexpr quint32 InvalidParameter = 87; // a null pointer or bad argument

} // namespace quillon::sim::status
