#include "platform/netbios/wire/name_service.h"

#include "platform/netbios/wire/bytes.h"

namespace platform::netbios::wire {
namespace {

// Far more records than any real packet carries; bounds the work on a forged header.
constexpr std::size_t kMaxRecords = 64;
constexpr std::uint32_t kRegistrationTtl = 300000;
constexpr std::size_t kStatisticsSize = 46;
constexpr std::size_t kMaxStatusNames = 255;

bool DecodeRecord(Reader& r, NsRecord& record) {
    std::size_t offset = r.pos();
    auto name = DecodeName(r.all(), offset, true);
    if (!name || !r.Skip(offset - r.pos())) {
        return false;
    }
    record.name = name->name;
    record.scoped = name->scoped;
    std::uint16_t length = 0;
    std::span<const std::uint8_t> data;
    if (!r.U16(record.type) || !r.U16(record.cls) || !r.U32(record.ttl) || !r.U16(length) ||
        !r.Bytes(length, data)) {
        return false;
    }
    record.rdata.assign(data.begin(), data.end());
    return true;
}

bool DecodeRecords(Reader& r, std::uint16_t count, std::vector<NsRecord>& out) {
    out.resize(count);
    for (auto& record : out) {
        if (!DecodeRecord(r, record)) {
            return false;
        }
    }
    return true;
}

void Header(Writer& w, std::uint16_t trn_id, std::uint16_t flags, std::uint16_t qd,
            std::uint16_t an, std::uint16_t ar) {
    w.U16(trn_id);
    w.U16(flags);
    w.U16(qd);
    w.U16(an);
    w.U16(0);
    w.U16(ar);
}

void Question(std::vector<std::uint8_t>& out, const NetbiosName& name, std::uint16_t type) {
    EncodeName(name, out);
    Writer w(out);
    w.U16(type);
    w.U16(kClassIn);
}

// A record's fixed part after its name.
void RecordTail(Writer& w, std::uint16_t type, std::uint32_t ttl, std::uint16_t rdlength) {
    w.U16(type);
    w.U16(kClassIn);
    w.U32(ttl);
    w.U16(rdlength);
}

void NbData(Writer& w, std::uint16_t flags, std::uint32_t address) {
    w.U16(flags);
    w.U32(address);
}

// Request with one question and one NB additional record whose name points at the question.
std::vector<std::uint8_t> RequestWithAddress(std::uint16_t trn_id, std::uint16_t flags,
                                             const NetbiosName& name, std::uint32_t ttl,
                                             std::uint32_t address) {
    std::vector<std::uint8_t> out;
    Writer w(out);
    Header(w, trn_id, flags, 1, 0, 1);
    Question(out, name, kTypeNb);
    w.U16(0xC00C);
    RecordTail(w, kTypeNb, ttl, 6);
    NbData(w, 0, address);
    return out;
}

}  // namespace

std::optional<NsPacket> DecodeNsPacket(std::span<const std::uint8_t> bytes) {
    Reader r(bytes);
    NsPacket p;
    std::uint16_t qd = 0, an = 0, nscount = 0, ar = 0;
    if (!r.U16(p.trn_id) || !r.U16(p.flags) || !r.U16(qd) || !r.U16(an) || !r.U16(nscount) ||
        !r.U16(ar)) {
        return std::nullopt;
    }
    if (std::size_t{qd} + an + nscount + ar > kMaxRecords) {
        return std::nullopt;
    }
    p.questions.resize(qd);
    for (auto& q : p.questions) {
        std::size_t offset = r.pos();
        auto name = DecodeName(bytes, offset, true);
        if (!name || !r.Skip(offset - r.pos()) || !r.U16(q.type) || !r.U16(q.cls)) {
            return std::nullopt;
        }
        q.name = name->name;
        q.scoped = name->scoped;
    }
    if (!DecodeRecords(r, an, p.answers) || !DecodeRecords(r, nscount, p.authority) ||
        !DecodeRecords(r, ar, p.additional)) {
        return std::nullopt;
    }
    return p;
}

std::vector<NbEntry> DecodeNbEntries(std::span<const std::uint8_t> rdata) {
    std::vector<NbEntry> entries;
    Reader r(rdata);
    NbEntry e;
    while (r.U16(e.flags) && r.U32(e.address)) {
        entries.push_back(e);
    }
    return entries;
}

std::optional<NodeStatus> DecodeNodeStatus(std::span<const std::uint8_t> rdata) {
    Reader r(rdata);
    std::uint8_t count = 0;
    if (!r.U8(count)) {
        return std::nullopt;
    }
    NodeStatus status;
    status.names.resize(count);
    for (auto& n : status.names) {
        std::span<const std::uint8_t> raw;
        if (!r.Bytes(kNameSize, raw) || !r.U16(n.flags)) {
            return std::nullopt;
        }
        std::copy(raw.begin(), raw.end(), n.name.begin());
    }
    std::span<const std::uint8_t> unit;
    if (r.Bytes(status.unit_id.size(), unit)) {
        std::copy(unit.begin(), unit.end(), status.unit_id.begin());
    }
    return status;
}

std::vector<std::uint8_t> EncodeRegistrationRequest(std::uint16_t trn_id, const NetbiosName& name,
                                                    std::uint32_t address, bool overwrite_demand) {
    // Overwrite demand: the same request without recursion desired, sent once after silence.
    const std::uint16_t flags = overwrite_demand ? 0x2810 : 0x2910;
    return RequestWithAddress(trn_id, flags, name, kRegistrationTtl, address);
}

std::vector<std::uint8_t> EncodeReleaseRequest(std::uint16_t trn_id, const NetbiosName& name,
                                               std::uint32_t address) {
    return RequestWithAddress(trn_id, 0x3010, name, 0, address);
}

std::vector<std::uint8_t> EncodeQueryRequest(std::uint16_t trn_id, const NetbiosName& name,
                                             bool broadcast) {
    std::vector<std::uint8_t> out;
    Writer w(out);
    Header(w, trn_id, broadcast ? 0x0110 : 0x0100, 1, 0, 0);
    Question(out, name, kTypeNb);
    return out;
}

std::vector<std::uint8_t> EncodeNodeStatusRequest(std::uint16_t trn_id, const NetbiosName& name) {
    std::vector<std::uint8_t> out;
    Writer w(out);
    Header(w, trn_id, 0x0000, 1, 0, 0);
    Question(out, name, kTypeNbstat);
    return out;
}

std::vector<std::uint8_t> EncodePositiveQueryResponse(std::uint16_t trn_id, const NetbiosName& name,
                                                      std::uint32_t address) {
    std::vector<std::uint8_t> out;
    Writer w(out);
    Header(w, trn_id, 0x8500, 0, 1, 0);
    EncodeName(name, out);
    RecordTail(w, kTypeNb, kRegistrationTtl, 6);
    NbData(w, 0, address);
    return out;
}

std::vector<std::uint8_t> EncodeNegativeRegistrationResponse(std::uint16_t trn_id,
                                                             const NetbiosName& name,
                                                             std::uint32_t owner_address,
                                                             std::uint8_t rcode) {
    std::vector<std::uint8_t> out;
    Writer w(out);
    Header(w, trn_id, static_cast<std::uint16_t>(0xAD80 | (rcode & 0x0F)), 0, 1, 0);
    EncodeName(name, out);
    RecordTail(w, kTypeNb, 0, 6);
    NbData(w, 0, owner_address);
    return out;
}

std::vector<std::uint8_t> EncodeConflictDemand(std::uint16_t trn_id, const NetbiosName& name) {
    return EncodeNegativeRegistrationResponse(trn_id, name, 0, ns_rcode::kConflict);
}

std::vector<std::uint8_t> EncodeNodeStatusResponse(std::uint16_t trn_id,
                                                   const NetbiosName& question,
                                                   std::span<const NodeStatusName> names,
                                                   const std::array<std::uint8_t, 6>& unit_id) {
    const std::size_t count = std::min(names.size(), kMaxStatusNames);
    std::vector<std::uint8_t> out;
    Writer w(out);
    Header(w, trn_id, 0x8400, 0, 1, 0);
    EncodeName(question, out);
    RecordTail(w, kTypeNbstat, 0, static_cast<std::uint16_t>(18 * count + 1 + kStatisticsSize));
    w.U8(static_cast<std::uint8_t>(count));
    for (std::size_t i = 0; i < count; ++i) {
        w.Bytes(names[i].name);
        w.U16(names[i].flags);
    }
    w.Bytes(unit_id);
    for (std::size_t i = unit_id.size(); i < kStatisticsSize; ++i) {
        w.U8(0);
    }
    return out;
}

}  // namespace platform::netbios::wire
