#include "tests/service/session_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

SessionClient::~SessionClient() {
    Close();
}

void SessionClient::Close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

bool SessionClient::Connect(const std::string& address, int port) {
    Close();
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<std::uint16_t>(port));
    ::inet_pton(AF_INET, address.c_str(), &sa.sin_addr);
    return fd_ >= 0 && ::connect(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
}

bool SessionClient::SendRaw(const std::vector<std::uint8_t>& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

bool SessionClient::ReadExact(std::uint8_t* out, std::size_t n, int timeout_ms) {
    std::size_t got = 0;
    while (got < n) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, timeout_ms) <= 0) {
            return false;
        }
        ssize_t r = ::recv(fd_, out + got, n - got, 0);
        if (r <= 0) {
            return false;
        }
        got += static_cast<std::size_t>(r);
    }
    return true;
}

namespace {

// The 34-byte first-level encoding of NAME padded to 15 bytes plus the suffix.
std::vector<std::uint8_t> EncodeNetbiosName(const std::string& name, std::uint8_t suffix) {
    std::uint8_t raw[16];
    std::memset(raw, ' ', sizeof raw);
    std::memcpy(raw, name.data(), std::min<std::size_t>(name.size(), 15));
    raw[15] = suffix;
    std::vector<std::uint8_t> out{0x20};
    for (std::uint8_t b : raw) {
        out.push_back(static_cast<std::uint8_t>('A' + (b >> 4)));
        out.push_back(static_cast<std::uint8_t>('A' + (b & 0x0F)));
    }
    out.push_back(0);
    return out;
}

}  // namespace

std::optional<std::uint8_t> SessionClient::RequestSession(const std::string& called,
                                                          std::uint8_t suffix,
                                                          const std::string& calling) {
    auto a = EncodeNetbiosName(called, suffix);
    auto b = EncodeNetbiosName(calling, 0x00);
    std::vector<std::uint8_t> packet{0x81, 0x00, 0x00, 68};
    packet.insert(packet.end(), a.begin(), a.end());
    packet.insert(packet.end(), b.begin(), b.end());
    if (!SendRaw(packet)) {
        return std::nullopt;
    }
    std::uint8_t header[4];
    if (!ReadExact(header, 4, 5000)) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> rest(static_cast<std::size_t>((header[2] << 8) | header[3]));
    if (!rest.empty() && !ReadExact(rest.data(), rest.size(), 5000)) {
        return std::nullopt;
    }
    return header[0];
}

bool SessionClient::SendMessage(const std::vector<std::uint8_t>& payload) {
    std::vector<std::uint8_t> frame{0x00, static_cast<std::uint8_t>(payload.size() >> 16 & 1),
                                    static_cast<std::uint8_t>(payload.size() >> 8),
                                    static_cast<std::uint8_t>(payload.size())};
    frame.insert(frame.end(), payload.begin(), payload.end());
    return SendRaw(frame);
}

std::optional<std::vector<std::uint8_t>> SessionClient::ReceiveMessage(int timeout_ms) {
    for (;;) {
        std::uint8_t header[4];
        if (!ReadExact(header, 4, timeout_ms)) {
            return std::nullopt;
        }
        std::size_t length = ((header[1] & 1u) << 16) | (header[2] << 8) | header[3];
        std::vector<std::uint8_t> payload(length);
        if (length > 0 && !ReadExact(payload.data(), length, timeout_ms)) {
            return std::nullopt;
        }
        if (header[0] == 0x85) {
            continue;  // keep-alive
        }
        return payload;
    }
}

bool SessionClient::WaitClosed(int timeout_ms) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, timeout_ms) <= 0) {
        return false;
    }
    std::uint8_t b;
    return ::recv(fd_, &b, 1, MSG_PEEK) <= 0;
}

namespace smb_units {
namespace {

std::vector<std::uint8_t> Header(std::uint8_t command, std::vector<std::uint16_t> words,
                                 const std::vector<std::uint8_t>& data) {
    std::vector<std::uint8_t> u{0xFF, 'S', 'M', 'B', command};
    u.resize(32, 0);
    u.push_back(static_cast<std::uint8_t>(words.size()));
    for (auto w : words) {
        u.push_back(static_cast<std::uint8_t>(w));
        u.push_back(static_cast<std::uint8_t>(w >> 8));
    }
    u.push_back(static_cast<std::uint8_t>(data.size()));
    u.push_back(static_cast<std::uint8_t>(data.size() >> 8));
    u.insert(u.end(), data.begin(), data.end());
    return u;
}

void String(std::vector<std::uint8_t>& data, const std::string& s) {
    data.push_back(0x04);
    data.insert(data.end(), s.begin(), s.end());
    data.push_back(0);
}

void Block(std::vector<std::uint8_t>& data, const std::string& s) {
    data.push_back(0x01);
    data.push_back(static_cast<std::uint8_t>(s.size()));
    data.push_back(static_cast<std::uint8_t>(s.size() >> 8));
    data.insert(data.end(), s.begin(), s.end());
}

}  // namespace

std::vector<std::uint8_t> SingleBlock(const std::string& origin, const std::string& recipient,
                                      const std::string& text) {
    std::vector<std::uint8_t> data;
    String(data, origin);
    String(data, recipient);
    Block(data, text);
    return Header(0xD0, {}, data);
}

std::vector<std::uint8_t> Start(const std::string& origin, const std::string& recipient) {
    std::vector<std::uint8_t> data;
    String(data, origin);
    String(data, recipient);
    return Header(0xD5, {}, data);
}

std::vector<std::uint8_t> Text(std::uint16_t group, const std::string& text) {
    std::vector<std::uint8_t> data;
    Block(data, text);
    return Header(0xD7, {group}, data);
}

std::vector<std::uint8_t> End(std::uint16_t group) {
    return Header(0xD6, {group}, {});
}

}  // namespace smb_units
