// The typed forms of replies in a description: a reply's own fields, read into the Windows
// structure's bytes and, for the writer, read back out of them. Each disk request names its form
// in the table of disk requests; the RAID driver's reply has one too.
#pragma once

#include "description_field.h"

#include <sim/disk_requests.h>

#include <array>
#include <optional>

namespace sim {

// The most fields a typed form has.
constexpr size_t kMostFormFields = 5;

struct ReplyForm {
    // The form's own fields, in the format's order (unused places empty).
    std::array<const char*, kMostFormFields> fields;
    // The reply the fields build; the fields were checked against `fields` before.
    Reply (*read)(const Field& field);
    // The fields these bytes would be written with, when they have the structure's shape at all;
    // none otherwise. DescribeExactly keeps them only when they read back to the same bytes.
    std::optional<nlohmann::ordered_json> (*describe)(const std::vector<BYTE>& bytes);
};

extern const ReplyForm kDeviceNumberForm;
extern const ReplyForm kDeviceDescriptorForm;
extern const ReplyForm kSeekPenaltyForm;
extern const ReplyForm kGeometryForm;
extern const ReplyForm kScsiAddressForm;
extern const ReplyForm kLayoutForm;
extern const ReplyForm kRaidReplyForm;

// The fields a disk's reply keeps beside it in every form: its scripted failures, where its
// request's hand-over allows them.
std::vector<std::string> KeysBesideReply(const HandOver& handOver);

// Throws std::logic_error when one of the form's fields is a reserved key or one of `alongside`.
void CheckFieldNames(const ReplyForm& form, const std::vector<std::string>& alongside);

// The form's fields and `alongside`, as a list of the fields an object may hold.
std::vector<std::string> FieldNames(const ReplyForm& form, std::vector<std::string> alongside = {});

// A disk's reply in any of its three forms: {"error": N}, {"bytes": "hex"} or its own fields.
// `alongside` names fields that keep their meaning in every form.
Reply ReadReply(const Field& field, const ReplyForm& form, std::vector<std::string> alongside);

// The bytes of a reply that cannot fail by itself (the RAID driver's, whose answer tells of its
// failure), in either of its forms: {"bytes": "hex"} or its own fields.
std::vector<BYTE> ReadReplyBytes(const Field& field, const ReplyForm& form,
                                 std::vector<std::string> alongside = {});

// The form's fields for these bytes, when reading them builds exactly these bytes again.
std::optional<nlohmann::ordered_json> DescribeExactly(const ReplyForm& form,
                                                      const std::vector<BYTE>& bytes);

} // namespace sim
