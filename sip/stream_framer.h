// Cuts the byte stream of a SIP connection (TCP or TLS) into whole messages
// by their Content-Length (RFC 3261 18.3), with the CR LF keep-alives of
// RFC 5626 4.4.1 between them. Pure: bytes in, messages out.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// What one Feed found.
struct TFramedInput {
    std::vector<std::string> messages;  // whole messages, in order
    int pings = 0;                      // CR LF CR LF keep-alives, each due a CR LF
    int pongs = 0;                      // lone CR LF answers to our keep-alives
};

class TSipStreamFramer {
public:
    // The head (start line and headers) a message may have before the
    // connection is given up, and the longest body it may announce.
    static constexpr std::size_t kDefaultMaxHead = 16 * 1024;
    static constexpr std::size_t kDefaultMaxBody = 64 * 1024;

    explicit TSipStreamFramer(std::size_t maxHead = kDefaultMaxHead,
                              std::size_t maxBody = kDefaultMaxBody);

    // Takes the next bytes of the stream. Once the stream is broken (a head
    // too long, a Content-Length that is missing a number or too large, a
    // head that starts no SIP message) nothing more is framed: the
    // connection must be closed, as no later message boundary can be trusted.
    TFramedInput Feed(const char* data, std::size_t size);
    TFramedInput Feed(const std::string& text) { return Feed(text.data(), text.size()); }

    bool Broken() const { return !Error_.empty(); }
    // Why the stream is broken; empty while it is not.
    const std::string& Error() const { return Error_; }
    // Bytes of a message begun and not finished: what a connection closed
    // now loses.
    std::size_t Pending() const { return Buffer_.size(); }

private:
    // Frames what the buffer holds; false when more bytes are needed.
    bool TakeOne(TFramedInput& out);
    bool SkipKeepAlives(TFramedInput& out);
    void Break(const std::string& reason);

    const std::size_t MaxHead_;
    const std::size_t MaxBody_;
    std::string Buffer_;
    std::string Error_;
};
