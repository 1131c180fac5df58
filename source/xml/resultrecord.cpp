#include "resultrecord.h"

#include "xmldoc.h"
#include "xmlescape.h"

static_assert(ERROR_LIMIT >= RESULT_LIMIT, "a fault dropped by the parser could never show in the text");

namespace {

// The attribute that carries the data string.
const char16_t* dataName(uint32_t flags)
{
    return (flags & RESULT_DATA_TYPE)       ? u"type"
           : (flags & RESULT_DATA_ENCODING) ? u"encoding"
           : (flags & RESULT_DATA_MSG)      ? u"msg"
                                            : u"tagname";
}

// The attribute that carries the number, or null when it is left out.
const char16_t* numberName(uint32_t flags, int32_t number)
{
    if (flags & RESULT_NUMBER_N) return u"n";
    if (flags & RESULT_NUMBER_COUNT) return u"count";
    if (flags & RESULT_NUMBER_LENGTH) return u"length";
    return number != -1 ? u"offset" : nullptr;
}

// The records stay a text an xmldoc can index (RESULT_UPDATE edits them as one), so a record never grows
// past the start-tag length an element record can describe: an attribute that would take it there is left out.
void addAttribute(std::u16string& record, const char16_t* name, std::u16string_view value)
{
    std::u16string attribute = u" ";
    attribute += name;
    attribute += u"=\"";
    attribute += escapeXml(value, ESCAPE_ATTRIBUTE);
    attribute += u'"';
    if (record.size() + attribute.size() + 2 > static_cast<size_t>(MAX_START_TAG_LENGTH)) return;
    record += attribute;
}

void updateResult(std::u16string& results, const char16_t* name, const char16_t* data, uint32_t flags, int32_t number,
                  int32_t offset2)
{
    xmldoc scratch;
    scratch.setText(std::u16string_view(results));
    if (!scratch.findNext(name)) return;
    if (data) scratch.putAttribute(scratch.currentIndex, dataName(flags), data, 0);
    if (const char16_t* attribute = numberName(flags, number))
        scratch.putAttribute(scratch.currentIndex, attribute, decimalText(number), 0);
    if (offset2 != -1) scratch.putAttribute(scratch.currentIndex, u"offset2", decimalText(offset2), 0);
    results = scratch.text;
}

// How a fault reads: the record name and, for an unterminated construct, its type.
struct faultform {
    int32_t status;
    const char16_t* record;
    const char16_t* type; // written as "type"; null when the record has none
    bool named;           // the fault's element name is written as "tagname"
};

const faultform faultforms[] = {
    {SCAN_FIRST_TAG_SYNTAX, u"first_tag_syntax", nullptr, false},
    {SCAN_EXCLAMATION_TAG_SYNTAX, u"exclamation_tag_syntax", nullptr, false},
    {SCAN_COMMENT_TAG_SYNTAX, u"comment_tag_syntax", nullptr, false},
    {SCAN_CDATA_SECTION_SYNTAX, u"cdata_section_syntax", nullptr, false},
    {SCAN_DOCTYPE_TAG_SYNTAX, u"doctype_tag_syntax", nullptr, false},
    {SCAN_UNTERMINATED_TAG, u"unterminated_tag_syntax", u"tag", false},
    {SCAN_UNTERMINATED_START_TAG, u"unterminated_tag_syntax", u"start_tag", false},
    {SCAN_UNTERMINATED_END_TAG, u"unterminated_tag_syntax", u"end_tag", false},
    {SCAN_UNTERMINATED_PI, u"unterminated_tag_syntax", u"processing_instruction", false},
    {SCAN_UNTERMINATED_COMMENT, u"unterminated_tag_syntax", u"comment", false},
    {SCAN_UNTERMINATED_CDATA, u"unterminated_tag_syntax", u"cdata_section", false},
    {SCAN_UNTERMINATED_DOCTYPE, u"unterminated_tag_syntax", u"document_type", false},
    {PARSE_UNENDED_START_TAG, u"unended_start_tag", nullptr, true},
    {PARSE_LONE_END_TAG, u"lone_end_tag", nullptr, true},
    {PARSE_ROOT_HAS_SIBLING, u"root_has_sibling", nullptr, false},
    {PARSE_NO_ROOT_ELEMENT, u"no_root_element", nullptr, false},
};

void appendFault(std::u16string& results, const parsefault& fault, const std::u16string& names)
{
    for (const faultform& form : faultforms) {
        if (form.status != fault.error.status) continue;
        if (form.named) {
            const std::u16string name =
                names.substr(static_cast<size_t>(fault.nameStart), static_cast<size_t>(fault.nameLength));
            appendResult(results, form.record, name.c_str(), 0, fault.error.offset, fault.offset2);
        } else {
            appendResult(results, form.record, form.type, form.type ? RESULT_DATA_TYPE : 0, fault.error.offset,
                         fault.offset2);
        }
        return;
    }
}

} // namespace

void appendResult(std::u16string& results, const char16_t* name, const char16_t* data, uint32_t flags, int32_t number,
                  int32_t offset2)
{
    if (results.size() >= RESULT_LIMIT) return;
    if (flags & RESULT_UPDATE) {
        updateResult(results, name, data, flags, number, offset2);
        return;
    }
    std::u16string record = u"<";
    record += name;
    if (record.size() + 2 > static_cast<size_t>(MAX_START_TAG_LENGTH)) return;
    if (data) addAttribute(record, dataName(flags), data);
    if (const char16_t* attribute = numberName(flags, number)) addAttribute(record, attribute, decimalText(number));
    if (offset2 != -1) addAttribute(record, u"offset2", decimalText(offset2));
    record += u"/>";
    results += record;
}

void appendFaults(std::u16string& results, const parseresult& parsed)
{
    const std::vector<parsefault>& faults = parsed.faults;
    size_t i = 0;
    while (i < faults.size() && results.size() < RESULT_LIMIT) {
        const size_t count = faults[i].group > 1 ? static_cast<size_t>(faults[i].group) : 1;
        const size_t end = i + count < faults.size() ? i + count : faults.size();
        std::u16string group;
        for (; i < end; ++i) appendFault(group, faults[i], parsed.names);
        results += group;
    }
}
