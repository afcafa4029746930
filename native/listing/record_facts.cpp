#include "listing/record_facts.h"

#include "ntfs/attribute_list.h"
#include "ntfs/attribute_walk.h"
#include "volume/byte_reader.h"

namespace tarnwick::listing {

StreamFact DataSizes(const AttributeView& firstPiece) {
    StreamFact sizes;
    sizes.name = firstPiece.name;
    if (!firstPiece.nonResident) {
        sizes.dataSize = firstPiece.value.size();
        return sizes;
    }
    sizes.dataSize = firstPiece.dataSize;
    sizes.allocatedSize = firstPiece.totalAllocated;
    return sizes;
}

RecordOutcome DecodeRecord(std::span<std::uint8_t> record, bool wantStreams, RecordFacts& facts) {
    facts.names.clear();
    facts.streams.clear();
    facts.hasAttributeList = facts.hasStandardInformation = facts.hasData = false;
    if (ParseFileRecordHeader(record, facts.header) != 0) return RecordOutcome::NotARecord;
    if (ApplyFixups(record, facts.header.usaOffset, facts.header.usaCount) != 0) return RecordOutcome::Torn;
    ByteReader r(record);
    facts.sequence = r.U16(file_record::kSequenceNumber);
    facts.inUse = (facts.header.flags & kFlagInUse) != 0;
    facts.directory = (facts.header.flags & kFlagDirectory) != 0;

    AttributeWalk walk(record, facts.header.firstAttributeOffset);
    AttributeView view;
    while (walk.Next(view)) {
        switch (view.type) {
            case attribute::kStandardInformation:
                if (!view.nonResident && !facts.hasStandardInformation) {
                    facts.hasStandardInformation = ParseStandardInformation(view.value, facts.standard) == 0;
                }
                break;
            case attribute::kAttributeList:
                facts.hasAttributeList = true;
                break;
            case attribute::kFileName: {
                if (view.nonResident) break;
                // Made in its place: a name made aside and copied in would
                // be read back before its own stores have settled.
                NameFact& fact = facts.names.emplace_back();
                fact.name = ParseFileName(view.value, 0, fact.info);
                if (fact.name.empty()) {
                    facts.names.pop_back();
                    break;
                }
                ByteReader value(view.value);
                const std::uint64_t parent = value.U64(file_name::kParent);
                fact.parent = ReferenceRecord(parent);
                fact.parentSequence = ReferenceSequence(parent);
                break;
            }
            case attribute::kData:
                // Later pieces carry no sizes; they only say where more
                // clusters lie.
                if (view.nonResident && view.startingVcn != 0) break;
                if (view.name.empty()) {
                    if (!facts.hasData) {
                        facts.hasData = true;
                        facts.data = DataSizes(view);
                    }
                } else if (wantStreams) {
                    facts.streams.push_back(DataSizes(view));
                }
                break;
            default:
                break;
        }
    }
    return RecordOutcome::Ok;
}

}  // namespace tarnwick::listing
