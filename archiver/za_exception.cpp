// EZAException message building: table text, placeholders, component prefix, code suffix.
#include "archiver/za_exception.h"

#include "archiver/za_messages.h"

#include <cstdio>
#include <system_error>

namespace archiver {
namespace {

std::string argText(const ZAFormatArg& arg) {
    if (const auto* s = std::get_if<std::string>(&arg))
        return *s;
    return std::to_string(std::get<std::int64_t>(arg));
}

// "%5d" with every blank then turned into "0": 8 -> "00008", -5 -> "000-5".
std::string codeText(std::int32_t code) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%5d", static_cast<int>(code));
    std::string out(buf);
    for (char& c : out)
        if (c == ' ')
            c = '0';
    return out;
}

std::string buildMessage(std::int32_t nativeCode, const ZAFormatArgs* args, std::string_view componentName,
                         const std::string& reason = {}) {
    std::string_view table = kZAMessages[static_cast<std::size_t>(zaMessageIndex(nativeCode))];
    std::string text = args ? formatZAMessage(table, *args) : std::string(table);
    if (!reason.empty())
        text += ": " + reason;
    if (!componentName.empty())
        text = std::string(componentName) + ": " + text;
    return text + " - Native error: " + codeText(nativeCode);
}

} // namespace

std::string formatZAMessage(std::string_view text, const ZAFormatArgs& args) {
    std::string out;
    out.reserve(text.size() + 32);
    std::size_t next = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c != '%' || i + 1 >= text.size()) {
            out += c;
            continue;
        }
        char kind = text[i + 1];
        if (kind == '%') {
            out += '%';
            ++i;
        } else if ((kind == 's' || kind == 'd') && next < args.size()) {
            out += argText(args[next++]);
            ++i;
        } else {
            out += c; // not a placeholder we fill: keep it as it stands
        }
    }
    return out;
}

EZAException::EZAException(std::int32_t nativeCode, std::string_view componentName)
    : std::runtime_error(buildMessage(nativeCode, nullptr, componentName)), m_errorCode(zaMessageIndex(nativeCode)),
      m_nativeError(nativeCode) {}

EZAException::EZAException(std::int32_t nativeCode, const ZAFormatArgs& args, std::string_view componentName)
    : std::runtime_error(buildMessage(nativeCode, &args, componentName)), m_errorCode(zaMessageIndex(nativeCode)),
      m_nativeError(nativeCode) {}

EZAException::EZAException(std::int32_t nativeCode, const ZAFormatArgs& args, const ZAReason& reason,
                           std::string_view componentName)
    : std::runtime_error(buildMessage(nativeCode, &args, componentName, reason.text)),
      m_errorCode(zaMessageIndex(nativeCode)), m_nativeError(nativeCode), m_reason(reason.text) {}

ZAReason osReason(int errorNumber) { return {std::generic_category().message(errorNumber)}; }

EZAException::EZAException(std::int32_t nativeCode, std::initializer_list<ZAFormatArg> args,
                           std::string_view componentName)
    : EZAException(nativeCode, ZAFormatArgs(args), componentName) {}

} // namespace archiver
