// Reading a machine description. Every field is checked for its type and range, and a field the
// format does not know is refused, so a typing mistake in a description never goes unnoticed.
#include "state.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <fstream>
#include <initializer_list>
#include <limits>
#include <sstream>

namespace {

using nlohmann::json;

// A position in the description, kept for the message that names an offending field.
class Field {
  public:
    Field(const json& value, std::string where, const std::string& source)
        : value_(value), where_(std::move(where)), source_(source) {}

    [[noreturn]] void Refuse(const std::string& problem) const {
        throw sim::MachineError(source_ + ": " + (where_.empty() ? "top level" : where_) + ": " +
                                problem);
    }

    const json& Value() const {
        return value_;
    }

    void ExpectObject(std::initializer_list<const char*> known) const {
        if (!value_.is_object()) {
            Refuse("expected an object");
        }
        for (auto item = value_.begin(); item != value_.end(); ++item) {
            bool isKnown = false;
            for (const char* name : known) {
                isKnown = isKnown || item.key() == name;
            }
            if (!isKnown) {
                Member(item.key()).Refuse("unknown field");
            }
        }
    }

    bool Has(const char* name) const {
        return value_.contains(name);
    }

    Field Member(const std::string& name) const {
        return Field(value_.at(name), where_.empty() ? name : where_ + "." + name, source_);
    }

    Field Element(size_t index) const {
        return Field(value_.at(index), where_ + "[" + std::to_string(index) + "]", source_);
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
        if (!value_.is_number_integer() || (value_.is_number_integer() && !value_.is_number_unsigned() && value_.get<int64_t>() < 0)) {
            Refuse("expected a whole number from 0 to " + std::to_string(maximum));
        }
        uint64_t number = value_.get<uint64_t>();
        if (number > maximum) {
            Refuse("out of range: " + std::to_string(number) + " is above " + std::to_string(maximum));
        }
        return number;
    }

    std::wstring Text() const {
        if (!value_.is_string()) {
            Refuse("expected a string");
        }
        return sim::FromUtf8(value_.get<std::string>());
    }

  private:
    const json& value_;
    std::string where_;
    const std::string& source_;
};

DWORD ErrorCode(const Field& field) {
    return static_cast<DWORD>(field.Unsigned(std::numeric_limits<DWORD>::max()));
}

sim::Disk ReadDisk(const Field& field) {
    field.ExpectObject({"path", "detailReportsNoSize", "detailError", "openError"});
    sim::Disk disk;
    if (!field.Has("path")) {
        field.Refuse("missing field \"path\"");
    }
    disk.path = field.Member("path").Text();
    if (field.Has("detailReportsNoSize")) {
        disk.detailReportsNoSize = field.Member("detailReportsNoSize").Boolean();
    }
    if (field.Has("detailError")) {
        disk.detailError = ErrorCode(field.Member("detailError"));
    }
    if (field.Has("openError")) {
        disk.openError = ErrorCode(field.Member("openError"));
    }
    return disk;
}

std::vector<std::vector<size_t>> ReadInterfaceLists(const Field& field, size_t diskCount) {
    std::vector<std::vector<size_t>> lists;
    for (size_t i = 0; i < field.ArraySize(); ++i) {
        Field list = field.Element(i);
        std::vector<size_t> members;
        for (size_t k = 0; k < list.ArraySize(); ++k) {
            Field member = list.Element(k);
            if (diskCount == 0) {
                member.Refuse("names a disk, but the machine has none");
            }
            members.push_back(static_cast<size_t>(member.Unsigned(diskCount - 1)));
        }
        lists.push_back(members);
    }
    return lists;
}

sim::Machine ReadMachine(const Field& top) {
    top.ExpectObject({"description", "disks", "interfaceLists", "classQueryFails"});
    sim::Machine machine;
    if (top.Has("description")) {
        top.Member("description").Text();
    }
    if (top.Has("disks")) {
        Field disks = top.Member("disks");
        for (size_t i = 0; i < disks.ArraySize(); ++i) {
            machine.disks.push_back(ReadDisk(disks.Element(i)));
        }
    }
    if (top.Has("interfaceLists")) {
        machine.interfaceLists = ReadInterfaceLists(top.Member("interfaceLists"), machine.disks.size());
    }
    if (top.Has("classQueryFails")) {
        machine.classQueryFails = top.Member("classQueryFails").Boolean();
    }
    return machine;
}

} // namespace

namespace sim {

extern const char kDefaultMachineJson[];

Machine ParseMachine(const std::string& jsonText, const std::string& sourceName) {
    json document;
    try {
        document = json::parse(jsonText);
    } catch (const json::parse_error& error) {
        throw MachineError(sourceName + ": not valid JSON: " + error.what());
    }
    return ReadMachine(Field(document, "", sourceName));
}

Machine LoadMachineFile(const std::string& fileName) {
    std::ifstream file(fileName, std::ios::binary);
    if (!file) {
        throw MachineError(fileName + ": cannot be read: " + std::strerror(errno));
    }
    std::ostringstream text;
    text << file.rdbuf();
    if (file.bad()) {
        throw MachineError(fileName + ": cannot be read");
    }
    return ParseMachine(text.str(), fileName);
}

Machine DefaultMachine() {
    return ParseMachine(kDefaultMachineJson, "the embedded default machine");
}

} // namespace sim
