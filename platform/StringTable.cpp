#include "platform/StringTable.h"

#include <cerrno>
#include <cstdlib>

namespace {

bool IsValidUtf8(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size()) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        std::size_t extra;
        char32_t cp;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            extra = 1, cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2, cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3, cp = c & 0x07;
        } else {
            return false;
        }
        if (i + extra >= text.size()) return false;  // cut off at the end
        for (std::size_t k = 1; k <= extra; ++k) {
            const unsigned char cc = static_cast<unsigned char>(text[i + k]);
            if ((cc & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        // Overlong forms, surrogates and values beyond U+10FFFF.
        if ((extra == 1 && cp < 0x80) || (extra == 2 && cp < 0x800) || (extra == 3 && cp < 0x10000) ||
            (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF)
            return false;
        i += extra + 1;
    }
    return true;
}

// One "<id><TAB><text>" line; false when it is malformed.
bool ParseEntry(std::string_view line, int& id, std::string& text)
{
    const std::size_t tab = line.find('\t');
    if (tab == std::string_view::npos || tab == 0 || tab > 9) return false;
    id = 0;
    for (std::size_t i = 0; i < tab; ++i) {
        if (line[i] < '0' || line[i] > '9') return false;
        id = id * 10 + (line[i] - '0');
    }
    text.clear();
    for (std::size_t i = tab + 1; i < line.size(); ++i) {
        if (line[i] != '\\') {
            text += line[i];
            continue;
        }
        if (++i == line.size()) return false;  // a lone backslash at the end
        switch (line[i]) {
        case 'n': text += '\n'; break;
        case 't': text += '\t'; break;
        case '\\': text += '\\'; break;
        default: return false;
        }
    }
    return true;
}

}  // namespace

bool StringTable::LoadFromText(std::string_view text)
{
    m_texts.clear();
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    if (!IsValidUtf8(text)) return false;
    std::map<int, std::string> texts;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty() || line.front() == '#') continue;
        int id;
        std::string entry;
        // A malformed line or an id given twice means a damaged file: use none of it.
        if (!ParseEntry(line, id, entry) || !texts.emplace(id, std::move(entry)).second) return false;
    }
    m_texts = std::move(texts);
    return true;
}

bool StringTable::Has(int id) const { return m_texts.count(id) != 0; }

std::string StringTable::Get(int id) const
{
    const auto it = m_texts.find(id);
    return it == m_texts.end() ? std::string() : it->second;
}

StringTable& AppStrings()
{
    static StringTable table;
    return table;
}

std::string LoadString(int id) { return AppStrings().Get(id); }

std::string LoadString(int id, const std::string& arg)
{
    std::string text = LoadString(id);
    const auto at = text.find("%s");
    if (at != std::string::npos) text.replace(at, 2, arg);
    return text;
}
