// EZAException: the one error the archiver raises for failures it detects itself.
// It carries the native code the raiser passed, the index of the message text that code
// selects, and a ready message naming the archiver component and repeating the code:
//   "<component>: <text> - Native error: 00020"   (no "<component>: " when it has no name)
#pragma once

#include <cstdint>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace archiver {

// One argument for a message placeholder: "%s" takes a text, "%d" an integer.
using ZAFormatArg = std::variant<std::string, std::int64_t>;
using ZAFormatArgs = std::vector<ZAFormatArg>;

// Fills the "%s" and "%d" placeholders of a message text in order ("%%" is a percent sign).
// Never fails: a missing argument leaves its placeholder as it stands, an integer given for
// "%s" (or a text for "%d") is written as it is, surplus arguments are ignored.
std::string formatZAMessage(std::string_view text, const ZAFormatArgs& args);

// Why an operation failed, beyond the table text: the operating system's reason ("No
// space left on device") or what the archiver found ("CRC-32 mismatch"). It follows the
// text after ": ".
struct ZAReason {
    std::string text;
};

// The operating system's text for an errno value.
ZAReason osReason(int errorNumber);

class EZAException : public std::runtime_error {
public:
    // nativeCode selects the text through the code table (unknown codes: "Unknown error").
    // componentName is the raising archiver's name; empty for none.
    explicit EZAException(std::int32_t nativeCode, std::string_view componentName = {});
    // As above, with the arguments that fill the text's placeholders: EZAException(20, {path}).
    EZAException(std::int32_t nativeCode, std::initializer_list<ZAFormatArg> args, std::string_view componentName = {});
    EZAException(std::int32_t nativeCode, const ZAFormatArgs& args, std::string_view componentName);
    // With the reason put after the text: "<text>: <reason> - Native error: 00019".
    EZAException(std::int32_t nativeCode, const ZAFormatArgs& args, const ZAReason& reason,
                 std::string_view componentName = {});

    // Index into the message table (0..37); 0 when the native code is not in the code table.
    std::int32_t ErrorCode() const noexcept { return m_errorCode; }
    // The code the raiser passed.
    std::int32_t NativeError() const noexcept { return m_nativeError; }
    // The reason given by the raiser; empty when none.
    const std::string& Reason() const noexcept { return m_reason; }

private:
    std::int32_t m_errorCode = 0;
    std::int32_t m_nativeError = 0;
    std::string m_reason;
};

} // namespace archiver
