// The custom-query definition reader on arbitrary file contents, then every accessor of what it read.
// EFileError and EXmlError are its documented outcomes; anything else escaping is a fault.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>

#include "campaigns/OzelSorguXML.h"
#include "platform/Error.h"
#include "tests/fuzz/FuzzSupport.h"

using namespace velmora;

namespace {

size_t Sum(const std::string& s) { return s.size() + (s.empty() ? 0 : static_cast<unsigned char>(s[0])); }

template <class F>
void Read(size_t& seen, F accessor) {
    try {
        seen += Sum(accessor());
    } catch (const EXmlError&) {  // the element holds elements instead of text
    }
}

size_t Walk(const std::string& path) {
    size_t seen = 0;
    campaigns::IXMLOzelSorguType root;
    try {
        root = campaigns::ReadCustomQueryFile(path);
    } catch (const EFileError&) {
        return 0;
    } catch (const EXmlError&) {
        return 0;
    }
    Read(seen, [&] { return root->SorguAdi(); });
    Read(seen, [&] { return root->SorguAciklama(); });
    Read(seen, [&] { return root->Sorgu(); });
    campaigns::TXMLParametreTypeList& list = root->Parametre();
    const size_t count = list.Count();
    for (size_t i = 0; i < count; ++i) {
        campaigns::TXMLParametreType p = list.Item(i);
        Read(seen, [&] { return p.Adi(); });
        Read(seen, [&] { return p.Aciklama(); });
        Read(seen, [&] { return p.VeriTipi(); });
        Read(seen, [&] { return p.VeriKaynagi(); });
        Read(seen, [&] { return p.LookupSQL(); });
        Read(seen, [&] { return p.LookupKey(); });
        Read(seen, [&] { return p.LookupDisplay(); });
        Read(seen, [&] { return p.Value(); });
        Read(seen, [&] { return p.MultiSelect(); });
    }
    bool pastTheEnd = false;
    try {
        list.Item(count);
    } catch (const EXmlError&) {
        pastTheEnd = true;
    }
    if (!pastTheEnd) fuzz::Fault("TXMLParametreTypeList::Item", "no error past the end");

    // A parameter inserted in front keeps its document alive after the root is gone and reads back.
    campaigns::TXMLParametreType first = list.Insert(0);
    first.SetAdi("fuzz");
    if (list.Count() != count + 1) fuzz::Fault("TXMLParametreTypeList::Insert", "the count did not grow by one");
    root.reset();
    if (first.Adi() != "fuzz") fuzz::Fault("TXMLParametreType", "the name set was not read back");
    return seen;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static fuzz::InputFile file("customquery");
    const std::string& path = file.Write(data, size);
    fuzz::NothingEscapes("the custom-query reader threw an undocumented error", [&] {
        volatile size_t sink = Walk(path);
        (void)sink;
    });
    return 0;
}
