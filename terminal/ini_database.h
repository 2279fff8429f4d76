#pragma once
// A record store kept in a private profile file: one section per record, named after the
// record's index field, an "Index" section listing the records ("name=#"), and a
// "Defaults" section with the number of records ("_Entries") and the fields' default
// values. The key map file is such a store.
//
// Limits: at most 999 records, field names of at most 21 characters, numeric fields at
// most 31 wide, a record of at most 65520 bytes. Failures throw EINI.

#include "terminal/private_profile.h"

#include <map>
#include <string>
#include <vector>

namespace zelvo::terminal {

class IniDatabase {
public:
    static constexpr int kMaxRecords = 999;
    static constexpr int kMaxFieldName = 21;
    static constexpr int kMaxNumericWidth = 31;
    static constexpr int kMaxRecordBytes = 65520;
    static constexpr const char* kIndexSection = "Index";
    static constexpr const char* kDefaultsSection = "Defaults";
    static constexpr const char* kEntriesKey = "_Entries";

    // Field name -> value (names compare exactly as defined).
    using Record = std::map<std::string, std::string>;

    // Opens the store at path, creating it (empty "Index", "_Entries" 0) when it does not
    // exist. Throws EINI(-7005) when it exists but cannot be read, EINI(-7004) when it
    // cannot be created. Fields must be defined again after each prepare.
    void prepare(const std::string& path);
    bool prepared() const { return prepared_; }
    // True when prepare made a new file.
    bool created() const { return created_; }
    const std::string& path() const { return profile_.path(); }

    // Defines a field; the index field names the record. On a new file its default value
    // is written empty.
    void addField(const std::string& name, int width, bool numeric = false, bool index = false);
    struct FieldDef {
        std::string name;
        int width = 0;
        bool numeric = false;
        bool index = false;
    };
    // Defines several fields with one write of a new file.
    void addFields(const std::vector<FieldDef>& defs);

    int numRecords() const;
    bool recordExists(const std::string& name) const;
    // Names listed in "Index", in file order.
    std::vector<std::string> recordNames() const;

    // Reads a record; fields not present are empty, and a stored "#" counts as empty.
    Record getRecord(const std::string& name) const;
    // Adds a new record (its name is the index field's value).
    void addRecord(const Record& record);
    // Replaces the record oldName by record, which may carry a new name.
    void updateRecord(const std::string& oldName, const Record& record);
    void deleteRecord(const std::string& name);

private:
    struct Field {
        std::string name;
        int width;
        bool numeric;
    };
    void requirePrepared() const;
    void requireFields() const;
    std::string indexValue(const Record& record) const;
    void checkRecord(const Record& record) const;
    void writeRecord(const std::string& name, const Record& record);
    void setEntries(int n);
    void commit();

    PrivateProfile profile_;
    std::vector<Field> fields_;
    std::string indexField_;
    bool prepared_ = false;
    bool created_ = false;
};

} // namespace zelvo::terminal
