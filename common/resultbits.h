#pragma once

// The result of one migrated item, a bit set (0: success). The receiver answers every file with one byte
// holding its bits; the sender ORs in its own, and the report turns the whole into a reason text.
namespace ResultBits {

constexpr int Success = 0;

// The receiver's result byte.
constexpr int ConnectionLost = 1; // the content did not arrive whole
constexpr int NoDirectory = 2; // the destination's folder cannot be made
constexpr int NotWritten = 4; // refused, or not stored completely
constexpr int NoHeader = 8; // the file header did not arrive whole

// The sender's own outcomes; the first three share their values (and report texts) with the receiver's.
constexpr int ContentLost = ConnectionLost; // connection lost while the content was sent
constexpr int OpenFailed = NotWritten; // cannot be opened for reading (or cannot be announced)
constexpr int ResultLost = NoHeader; // content sent but the receiver's result never came
constexpr int Incomplete = 16; // missing, or fewer bytes than announced (padded)
constexpr int AppFailed = 64; // an application the receiver did not report installed
constexpr int HeaderLost = 255; // connection lost before or while the header was sent

} // namespace ResultBits
