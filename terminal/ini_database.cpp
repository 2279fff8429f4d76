#include "terminal/ini_database.h"

#include "terminal/eini.h"

#include <cerrno>
#include <cstdlib>

namespace zelvo::terminal {

const char* iniErrorText(int code)
{
    switch (code) {
    case ecKeyTooLong: return "Key string too long";
    case ecDataTooLong: return "Data string too long";
    case ecNoFields: return "No fields defined in database";
    case ecIniWrite: return "Generic INI file write error";
    case ecIniRead: return "Generic INI file read error";
    case ecNoIndex: return "No index defined for database";
    case ecRecordExists: return "Record already exists";
    case ecRecNotFound: return "Record not found in database";
    case ecDatabaseFull: return "Maximum database records (999) reached";
    case ecDatabaseEmpty: return "No records in database";
    case ecIniNotPrepared: return "iPrepareIniDatabase not called";
    default: return "";
    }
}

void IniDatabase::prepare(const std::string& path)
{
    prepared_ = false;
    created_ = false;
    fields_.clear();
    indexField_.clear();
    profile_ = PrivateProfile(path);
    if (!profile_.load()) {
        if (errno != ENOENT)
            throw EINI(ecIniRead);
        // A new store: an empty index and no entries.
        profile_.addSection(kIndexSection);
        profile_.write(kDefaultsSection, kEntriesKey, "0");
        if (!profile_.save())
            throw EINI(ecIniWrite);
        created_ = true;
    } else if (!profile_.hasSection(kIndexSection)) {
        profile_.addSection(kIndexSection);
    }
    prepared_ = true;
}

void IniDatabase::requirePrepared() const
{
    if (!prepared_)
        throw EINI(ecIniNotPrepared);
}

void IniDatabase::requireFields() const
{
    requirePrepared();
    if (fields_.empty())
        throw EINI(ecNoFields);
    if (indexField_.empty())
        throw EINI(ecNoIndex);
}

void IniDatabase::addField(const std::string& name, int width, bool numeric, bool index)
{
    addFields({FieldDef{name, width, numeric, index}});
}

void IniDatabase::addFields(const std::vector<FieldDef>& defs)
{
    requirePrepared();
    for (const FieldDef& d : defs) {
        if (d.name.empty() || static_cast<int>(d.name.size()) > kMaxFieldName)
            throw EINI(ecKeyTooLong);
        if (d.width < 0 || (d.numeric && d.width > kMaxNumericWidth))
            throw EINI(ecDataTooLong);
    }
    for (const FieldDef& d : defs) {
        fields_.push_back(Field{d.name, d.width, d.numeric});
        if (d.index)
            indexField_ = d.name;
        if (created_)
            profile_.write(kDefaultsSection, d.name, "");
    }
    if (created_ && !profile_.save())
        throw EINI(ecIniWrite);
}

int IniDatabase::numRecords() const
{
    requirePrepared();
    const auto v = profile_.read(kDefaultsSection, kEntriesKey);
    return v ? std::atoi(v->c_str()) : 0;
}

bool IniDatabase::recordExists(const std::string& name) const
{
    requirePrepared();
    return profile_.read(kIndexSection, name).has_value();
}

std::vector<std::string> IniDatabase::recordNames() const
{
    requirePrepared();
    return profile_.keys(kIndexSection);
}

IniDatabase::Record IniDatabase::getRecord(const std::string& name) const
{
    requireFields();
    if (numRecords() <= 0 && recordNames().empty())
        throw EINI(ecDatabaseEmpty);
    if (!recordExists(name))
        throw EINI(ecRecNotFound);
    Record rec;
    for (const Field& f : fields_) {
        std::string v = profile_.read(name, f.name).value_or("");
        if (v == "#")
            v.clear();
        rec[f.name] = v;
    }
    return rec;
}

std::string IniDatabase::indexValue(const Record& record) const
{
    const auto it = record.find(indexField_);
    return it == record.end() ? std::string() : it->second;
}

void IniDatabase::checkRecord(const Record& record) const
{
    const std::string name = indexValue(record);
    // The name becomes a section header: it cannot be empty, hold a bracket or a line
    // end, or take the place of the store's own sections.
    if (name.empty() || name.find_first_of("[]\r\n=") != std::string::npos
        || name.find('\0') != std::string::npos)
        throw EINI(ecKeyTooLong);
    if (PrivateProfile::sameName(name, kIndexSection) || PrivateProfile::sameName(name, kDefaultsSection))
        throw EINI(ecRecordExists);
    std::size_t bytes = 0;
    for (const Field& f : fields_) {
        const auto it = record.find(f.name);
        if (it == record.end())
            continue;
        const std::string& v = it->second;
        if (static_cast<int>(v.size()) > f.width)
            throw EINI(ecDataTooLong);
        if (v.find_first_of("\r\n") != std::string::npos || v.find('\0') != std::string::npos)
            throw EINI(ecIniWrite);
        bytes += f.name.size() + v.size() + 2;
    }
    if (bytes > static_cast<std::size_t>(kMaxRecordBytes))
        throw EINI(ecDataTooLong);
}

void IniDatabase::writeRecord(const std::string& name, const Record& record)
{
    profile_.addSection(name);
    for (const Field& f : fields_) {
        const auto it = record.find(f.name);
        if (it == record.end() || it->second.empty())
            profile_.removeKey(name, f.name);
        else
            profile_.write(name, f.name, it->second);
    }
}

void IniDatabase::setEntries(int n)
{
    profile_.write(kDefaultsSection, kEntriesKey, std::to_string(n < 0 ? 0 : n));
}

void IniDatabase::commit()
{
    if (!profile_.save()) {
        // Keep memory in step with the file that is really there.
        const std::string path = profile_.path();
        profile_ = PrivateProfile(path);
        profile_.load();
        throw EINI(ecIniWrite);
    }
}

void IniDatabase::addRecord(const Record& record)
{
    requireFields();
    checkRecord(record);
    const std::string name = indexValue(record);
    if (recordExists(name))
        throw EINI(ecRecordExists);
    if (static_cast<int>(recordNames().size()) >= kMaxRecords)
        throw EINI(ecDatabaseFull);
    profile_.removeSection(name);
    writeRecord(name, record);
    profile_.write(kIndexSection, name, "#");
    setEntries(numRecords() + 1);
    commit();
}

void IniDatabase::updateRecord(const std::string& oldName, const Record& record)
{
    requireFields();
    checkRecord(record);
    if (!recordExists(oldName))
        throw EINI(ecRecNotFound);
    const std::string name = indexValue(record);
    if (name != oldName) {
        // A new name must not take another record's place; a change of case only is the
        // same record.
        if (!PrivateProfile::sameName(name, oldName) && recordExists(name))
            throw EINI(ecRecordExists);
        profile_.removeSection(oldName);
        profile_.removeKey(kIndexSection, oldName);
        profile_.write(kIndexSection, name, "#");
    } else {
        profile_.removeSection(name);
    }
    writeRecord(name, record);
    commit();
}

void IniDatabase::deleteRecord(const std::string& name)
{
    requirePrepared();
    if (recordNames().empty())
        throw EINI(ecDatabaseEmpty);
    if (!recordExists(name))
        throw EINI(ecRecNotFound);
    profile_.removeSection(name);
    profile_.removeKey(kIndexSection, name);
    setEntries(numRecords() - 1);
    commit();
}

} // namespace zelvo::terminal
