// The reply builders: every structure in the byte layout a Windows x64 driver writes.
#include <sim/replies.h>

#include "reply_forms.h"

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>

namespace {

// Little-endian field of a reply, as the tool's structures read it on Windows x64.
uint64_t At(const std::vector<BYTE>& bytes, size_t offset, size_t width) {
    uint64_t value = 0;
    std::memcpy(&value, bytes.data() + offset, width);
    return value;
}

// An entry with a name in both styles: the MBR walk shows the name area too.
sim::Partition Named(LONGLONG length, const wchar_t* type, const wchar_t* name, bool boot = false) {
    sim::Partition partition = sim::GptPartition(length, type, name);
    partition.bootIndicator = boot;
    return partition;
}

struct LayoutCheck {
    const char* what;
    size_t offset;
    size_t width;
    uint64_t value;
};

TEST(ReplyBuilders, HaveTheWindowsLayout) {
    const std::vector<BYTE> gpt =
        sim::LayoutReply(PARTITION_STYLE_GPT,
                         {Named(100 << 20, L"C12A7328-F81F-11D2-BA4B-00A0C93EC93B", L"EFI"),
                          Named(5LL << 30, L"{ebd0a0a2-b9e5-4433-87c0-68b6b72699c7}", L"")})
            .bytes;
    const std::vector<BYTE> mbr =
        sim::LayoutReply(PARTITION_STYLE_MBR, {Named(1 << 20, L"", L"Sys", true)}).bytes;
    const std::vector<BYTE> raid = sim::RaidReply(0x01000200, 3, -1, 4, 5);
    struct Source {
        const char* name;
        std::vector<BYTE> bytes;
        size_t size;
        std::vector<LayoutCheck> checks;
    };
    // clang-format off
    const Source sources[] = {
        {"number", sim::DeviceNumberReply(5, 2).bytes, 12, {{"type", 0, 4, 7}, {"number", 4, 4, 5}, {"partition", 8, 4, 2}}},
        {"descriptor", sim::DeviceDescriptorReply(BusTypeNvme, true, 5).bytes, 40,
         {{"version", 0, 4, 40}, {"size", 4, 4, 40}, {"type", 8, 1, 5}, {"removable", 10, 1, 1}, {"bus", 28, 4, 17}}},
        {"penalty", sim::SeekPenaltyReply(true).bytes, 12, {{"size", 4, 4, 12}, {"incurs", 8, 1, 1}}},
        {"geometry", sim::GeometryReply(-3, 255, 63, 4096).bytes, 24,
         {{"cylinders", 0, 8, static_cast<uint64_t>(-3)}, {"media", 8, 4, 12}, {"bytes", 20, 4, 4096}}},
        {"address", sim::ScsiAddressReply(1, 2, 3, 4).bytes, 8, {{"length", 0, 4, 8}, {"port", 4, 1, 1}, {"lun", 7, 1, 4}}},
        {"gpt", gpt, 48 + 2 * 144,
         {{"style", 0, 4, 1}, {"count", 4, 4, 2}, {"entry style", 48, 4, 1}, {"start", 56, 8, 1 << 20},
          {"length", 64, 8, 100 << 20}, {"number", 72, 4, 1}, {"type", 80, 4, 0xC12A7328}, {"name", 120, 6, 0x0049'0046'0045},
          {"second start", 192 + 8, 8, 101 << 20}, {"braced lower-case type", 192 + 32, 4, 0xEBD0A0A2},
          {"type tail", 192 + 40, 8, 0xC7'99'26'B7'B6'68'C0'87}}},
        {"mbr", mbr, 48 + 144,
         {{"style", 0, 4, 0}, {"entry style", 48, 4, 0}, {"type", 80, 1, 7}, {"boot", 81, 1, 1},
          {"hidden sectors", 84, 4, 2048}, {"name area", 120, 6, 0x0073'0079'0053}}},
        {"raw", sim::LayoutReply(PARTITION_STYLE_RAW, {}).bytes, 48, {{"style", 0, 4, 2}, {"count", 4, 4, 0}}},
        {"wrapping", sim::LayoutReply(PARTITION_STYLE_MBR, {Named(INT64_MAX, L"", L""), Named(1, L"", L"")}).bytes, 336,
         {{"second start", 192 + 8, 8, 0x8000'0000'000F'FFFF}}},
        {"reported", sim::LayoutReply(PARTITION_STYLE_MBR, {Named(1, L"", L"")}, 9).bytes, 192, {{"count", 4, 4, 9}}},
        {"raid", raid, 44,
         {{"header", 0, 4, 28}, {"signature", 4, 8, 0x706D'526C'6574'6E49}, {"control", 16, 4, 0x80000D01},
          {"return", 20, 4, 0x01000200}, {"length", 24, 4, 16}, {"type", 28, 4, 3}, {"interface", 32, 4, 0xFFFFFFFF},
          {"speed", 40, 4, 5}}},
    };
    // clang-format on
    for (const Source& source : sources) {
        ASSERT_EQ(source.bytes.size(), source.size) << source.name;
        for (const LayoutCheck& check : source.checks) {
            EXPECT_EQ(At(source.bytes, check.offset, check.width), check.value)
                << source.name << " " << check.what;
        }
    }
    EXPECT_THROW(sim::LayoutReply(PARTITION_STYLE_GPT, {Named(1, L"not-a-guid", L"")}),
                 std::invalid_argument);
    EXPECT_EQ(sim::NameUnits(L"a\U0001F600"), (std::vector<WORD>{0x61, 0xD83D, 0xDE00}));
}

} // namespace

// A typed field named like a key of the reply's other forms would be read as that form.
TEST(ReplyForms, FieldNamedLikeAReservedKeyIsRefused) {
    const auto read = [](const sim::Field&) { return sim::Reply{}; };
    const auto describe = [](const std::vector<BYTE>&) {
        return std::optional<nlohmann::ordered_json>{};
    };
    for (const char* name : {"bytes", "error", "failures"}) {
        const sim::ReplyForm form = {{"count", name, nullptr, nullptr, nullptr}, read, describe};
        EXPECT_THROW(sim::CheckFieldNames(form, sim::KeysBesideReply({0, false, true})),
                     std::logic_error)
            << name;
    }
    EXPECT_FALSE(sim::DiskRequests().empty()); // the shipped forms pass the same check
}
