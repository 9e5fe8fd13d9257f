// A field of a description being read: its value, its path for the messages that name it, and
// the checks of type and range every field takes. Shared by the reader and the reply forms; the
// writer names the places of what it cannot write by the same paths.
#pragma once

#include <sim/machine.h>
#include <sim/text.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

namespace sim {

// A field's path in a description ("disks[0].path"), for the message that names it.
class Place {
  public:
    explicit Place(std::string where = {}) : where_(std::move(where)) {}

    Place Member(const std::string& name) const {
        return Place(where_.empty() ? name : where_ + "." + name);
    }

    Place Element(size_t index) const {
        return Place(where_ + "[" + std::to_string(index) + "]");
    }

    // The message of a field refused at this place.
    std::string Problem(const std::string& problem) const {
        return (where_.empty() ? "top level" : where_) + ": " + problem;
    }

    [[noreturn]] void Refuse(const std::string& problem) const {
        throw MachineError(Problem(problem));
    }

  private:
    std::string where_;
};

// A position in the description, kept for the message that names an offending field.
class Field {
  public:
    Field(const nlohmann::json& value, Place where, const std::string& source)
        : value_(value), where_(std::move(where)), source_(source) {}

    [[noreturn]] void Refuse(const std::string& problem) const {
        throw MachineError(source_ + ": " + where_.Problem(problem));
    }

    const nlohmann::json& Value() const {
        return value_;
    }

    void ExpectObject(const std::vector<std::string>& known,
                      const std::string& problem = "unknown field") const {
        if (!value_.is_object()) {
            Refuse("expected an object");
        }
        for (auto item = value_.begin(); item != value_.end(); ++item) {
            if (std::find(known.begin(), known.end(), item.key()) == known.end()) {
                Member(item.key()).Refuse(problem);
            }
        }
    }

    bool IsObject() const {
        return value_.is_object();
    }

    bool IsString() const {
        return value_.is_string();
    }

    // A member that must be there.
    Field Required(const std::string& name) const {
        if (!Has(name.c_str())) {
            Refuse("missing field \"" + name + "\"");
        }
        return Member(name);
    }

    bool Has(const char* name) const {
        return value_.contains(name);
    }

    Field Member(const std::string& name) const {
        return Field(value_.at(name), where_.Member(name), source_);
    }

    Field Element(size_t index) const {
        return Field(value_.at(index), where_.Element(index), source_);
    }

    size_t ArraySize() const {
        if (!value_.is_array()) {
            Refuse("expected an array");
        }
        return value_.size();
    }

    bool Boolean() const {
        if (!value_.is_boolean()) {
            Refuse("expected true or false");
        }
        return value_.get<bool>();
    }

    uint64_t Unsigned(uint64_t maximum) const {
        if (!value_.is_number_integer() ||
            (!value_.is_number_unsigned() && value_.get<int64_t>() < 0)) {
            Refuse("expected a whole number from 0 to " + std::to_string(maximum));
        }
        uint64_t number = value_.get<uint64_t>();
        if (number > maximum) {
            Refuse("out of range: " + std::to_string(number) + " is above " +
                   std::to_string(maximum));
        }
        return number;
    }

    int64_t Signed(int64_t minimum, int64_t maximum) const {
        const std::string range = "expected a whole number from " + std::to_string(minimum) +
                                  " to " + std::to_string(maximum);
        if (!value_.is_number_integer()) {
            Refuse(range);
        }
        if (value_.is_number_unsigned() &&
            value_.get<uint64_t>() > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
            Refuse("out of range: " + std::to_string(value_.get<uint64_t>()) + " is above " +
                   std::to_string(maximum));
        }
        int64_t number = value_.get<int64_t>();
        if (number < minimum || number > maximum) {
            Refuse("out of range: " + std::to_string(number) + " is " +
                   (number < minimum ? "below " + std::to_string(minimum)
                                     : "above " + std::to_string(maximum)));
        }
        return number;
    }

    std::wstring Text() const {
        if (!value_.is_string()) {
            Refuse("expected a string");
        }
        return FromUtf8(value_.get<std::string>());
    }

  private:
    const nlohmann::json& value_;
    Place where_;
    const std::string& source_;
};

DWORD ErrorCode(const Field& field);
DWORD Dword(const Field& field);
BYTE Byte(const Field& field);
LONG Long(const Field& field);
LONGLONG Int64(const Field& field);
// Two hex digits per byte, spaces allowed between bytes.
std::vector<BYTE> HexBytes(const Field& field);

// Reads the member `name` into `target` with `read` (a function of a field, or a member function
// of it) when the description gives it; `target` keeps its default otherwise.
template <typename T, typename Read>
void ReadOptional(const Field& field, const char* name, T& target, Read read) {
    if (field.Has(name)) {
        target = std::invoke(read, field.Member(name));
    }
}

// Each element of the member `name`, a list, as `read` reads it, when the description gives it.
template <typename T, typename Read>
void ReadList(const Field& field, const char* name, std::vector<T>& list, Read read) {
    if (field.Has(name)) {
        const Field elements = field.Member(name);
        for (size_t i = 0; i < elements.ArraySize(); ++i) {
            list.push_back(read(elements.Element(i)));
        }
    }
}

} // namespace sim
