#pragma once
// One tenant's gateway account, read from "tbNuvoSMSAyarlari"; passed by value.
#include <cstdint>
#include <string>

namespace velmora::queue {

struct TSMSAyarlari {
    std::string KullaniciAdi;
    std::string Parola;
    std::string KanalKodu;
    std::string Developer;
    std::string Version;  // never filled; stays empty
    std::string Originator;
    int32_t SMSTipi = 0;
};

} // namespace velmora::queue
