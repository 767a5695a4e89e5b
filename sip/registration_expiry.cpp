#include "sip/registration_expiry.h"

#include <algorithm>
#include <vector>

#include "sip/text.h"

namespace {

constexpr int kLongestRefreshSeconds = 600;

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if ((text[i] | 0x20) != (prefix[i] | 0x20)) return false;
    }
    return true;
}

std::string_view TrimmedValue(std::string_view line, std::size_t nameLength) {
    std::string_view value = line.substr(nameLength);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
    while (!value.empty() && (value.back() == ' ' || value.back() == '\r')) value.remove_suffix(1);
    return value;
}

// The header lines of `response`, without the status line.
std::vector<std::string_view> HeaderLines(std::string_view response) {
    std::vector<std::string_view> lines;
    std::size_t start = response.find("\r\n");
    while (start != std::string_view::npos) {
        start += 2;
        const std::size_t end = response.find("\r\n", start);
        const std::string_view line =
            response.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
        if (line.empty()) break;
        lines.push_back(line);
        start = end;
    }
    return lines;
}

// The digits `text` starts with as a number, -1 when there are none.
int LeadingNumber(std::string_view text) {
    std::size_t digits = 0;
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') ++digits;
    return sip_text::NumberOr(text.substr(0, digits), -1);
}

// One Contact value: its URI and its expires parameter (-1 when absent).
struct TContact {
    std::string_view uri;
    int expires = -1;
};

void ReadContacts(std::string_view value, std::vector<TContact>& contacts) {
    // Values are split at commas outside angle brackets.
    std::size_t start = 0;
    int depth = 0;
    for (std::size_t i = 0; i <= value.size(); ++i) {
        if (i < value.size()) {
            if (value[i] == '<') ++depth;
            if (value[i] == '>') --depth;
            if (value[i] != ',' || depth > 0) continue;
        }
        const std::string_view item = value.substr(start, i - start);
        start = i + 1;
        TContact contact;
        const std::size_t open = item.find('<');
        const std::size_t close = item.find('>');
        std::string_view parameters = item;
        if (open != std::string_view::npos && close != std::string_view::npos && close > open) {
            contact.uri = item.substr(open + 1, close - open - 1);
            parameters = item.substr(close + 1);
        }
        const std::size_t at = parameters.find("expires=");
        if (at != std::string_view::npos) contact.expires = LeadingNumber(parameters.substr(at + 8));
        contacts.push_back(contact);
    }
}

}  // namespace

int GrantedExpiry(std::string_view response, std::string_view contactUri, int asked) {
    std::vector<TContact> contacts;
    int header = -1;
    for (const std::string_view line : HeaderLines(response)) {
        if (StartsWithNoCase(line, "Contact:")) ReadContacts(TrimmedValue(line, 8), contacts);
        else if (StartsWithNoCase(line, "m:")) ReadContacts(TrimmedValue(line, 2), contacts);
        else if (StartsWithNoCase(line, "Expires:")) header = LeadingNumber(TrimmedValue(line, 8));
    }
    for (const TContact& contact : contacts) {
        if (contact.expires >= 0 && contact.uri == contactUri) return contact.expires;
    }
    if (contacts.size() == 1 && contacts[0].expires >= 0) return contacts[0].expires;
    if (header >= 0) return header;
    return asked;
}

int MinExpires(std::string_view response) {
    for (const std::string_view line : HeaderLines(response)) {
        if (StartsWithNoCase(line, "Min-Expires:")) return LeadingNumber(TrimmedValue(line, 12));
    }
    return -1;
}

int RefreshAfterSeconds(int granted) {
    return std::clamp(granted / 2, 1, kLongestRefreshSeconds);
}

std::string StatusLineText(std::string_view response) {
    if (!response.starts_with("SIP/2.0 ")) return {};
    const std::size_t end = response.find("\r\n");
    return std::string(response.substr(8, end == std::string_view::npos ? std::string_view::npos : end - 8));
}
