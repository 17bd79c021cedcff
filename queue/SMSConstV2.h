#pragma once
// Message groups and queue states stored in "tbNuvoListe", and the composition routines
// every campaign uses: template filling and phone-number rules.
#include <string>

namespace velmora::queue {

enum class TMesajGrubu : int {
    mgNone = 0,
    mgHarici = 1,
    mgMusteri = 2,
    mgPerakende = 3,
    mgDogumGunu = 4,
    mgEvlilikYildonumu = 5,
    mgCocuklarinDogumGunu = 6,
    mgTaksit = 7,
    mgAlisVeris = 8,
    mgGecikmisOdeme = 9,
    mgOnOdemeliSiparis = 10,
};

enum class TMesajDurumu : int {
    mdBeklemede = 0,    // pending
    mdGonderildi = 1,   // accepted by the gateway, awaiting a report
    mdHata = 2,         // refused by the gateway (final)
    mdRaporAlindi = 3,  // report received (final)
};

constexpr int Ord(TMesajGrubu g) { return static_cast<int>(g); }
constexpr int Ord(TMesajDurumu d) { return static_cast<int>(d); }

// Replaces the six placeholders (letter case ignored, the Turkish "İ" and "ı" taken for "i"; in a fixed order),
// then escapes the five XML characters.
std::string FillTemplate(const std::string& templ, const std::string& musteriAdi, const std::string& musteriSoyadi,
                         const std::string& cocukAdi, const std::string& cocukSoyadi, const std::string& tarih,
                         const std::string& tutar);

// Keeps only ASCII digits and '+', in order.
std::string DigitsOnly(const std::string& number);

// Rewrites the number to its cleaned form and then to its stored form; true when it is an acceptable mobile number.
bool NormalizePhoneNumber(std::string& number);

} // namespace velmora::queue
