#pragma once
// The messages that both decoding a member and putting it onto disk give.
namespace zip::messages {

inline constexpr char kOpenRsrc[] = "Opening destination rsrc fork failed";
inline constexpr char kInternal[] = "Internal error (exception)";

}  // namespace zip::messages
