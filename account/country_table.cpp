#include "account/country_table.h"

#include <array>
#include <cassert>
#include <iterator>

namespace vokar {
namespace {

struct Country {
    std::wstring_view name;
    std::wstring_view code;
};

// E.164 country codes; North American numbering plan members carry "1" and
// their area code. Some rows deliberately carry more than the country code
// (Canary Islands 34928, Peru-Rural 5118, ...) or an older assignment
// (Kazakhstan 73, Mayotte 2692): these are sent to the service as they stand.
constexpr Country kCountries[] = {
    {L"Afghanistan", L"93"},
    {L"Albania", L"355"},
    {L"Algeria", L"213"},
    {L"American Samoa", L"1684"},
    {L"Andorra", L"376"},
    {L"Angola", L"244"},
    {L"Anguilla", L"1264"},
    {L"Antarctic Territories", L"672"},
    {L"Antigua & Barbuda", L"1268"},
    {L"Argentina", L"54"},
    {L"Armenia", L"374"},
    {L"Aruba", L"297"},
    {L"Ascension Island", L"247"},
    {L"Australia", L"61"},
    {L"Austria", L"43"},
    {L"Azerbaijan", L"994"},
    {L"Azores", L"351"},
    {L"Bahamas", L"1242"},
    {L"Bahrain", L"973"},
    {L"Bangladesh", L"880"},
    {L"Barbados", L"1246"},
    {L"Belarus", L"375"},
    {L"Belgium", L"32"},
    {L"Belize", L"501"},
    {L"Benin", L"229"},
    {L"Bermuda", L"1441"},
    {L"Bhutan", L"975"},
    {L"Bolivia", L"591"},
    {L"Bosnia & Herz.", L"387"},
    {L"Botswana", L"267"},
    {L"Brazil", L"55"},
    {L"British Virgin Islands", L"1284"},
    {L"Brunei", L"673"},
    {L"Bulgaria", L"359"},
    {L"Burkina Faso", L"226"},
    {L"Burundi", L"257"},
    {L"Cambodia", L"855"},
    {L"Cameroon", L"237"},
    {L"Canada", L"1"},
    {L"Canary Islands", L"34928"},
    {L"Cape Verde Island", L"238"},
    {L"Cayman Islands", L"1345"},
    {L"Central African Rep.", L"236"},
    {L"Chad", L"235"},
    {L"Chatham Islands", L"643305"},
    {L"Chile", L"56"},
    {L"China", L"86"},
    {L"Christmas Island", L"6189164"},
    {L"Cocos Island", L"6189162"},
    {L"Colombia", L"57"},
    {L"Comoros", L"269"},
    {L"Congo", L"242"},
    {L"Congo - DRC", L"243"},
    {L"Cook Islands", L"682"},
    {L"Costa Rica", L"506"},
    {L"Croatia", L"385"},
    {L"Cuba", L"53"},
    {L"Cyprus North", L"90392"},
    {L"Cyprus South", L"357"},
    {L"Czech Republic", L"420"},
    {L"Denmark", L"45"},
    {L"Diego Garcia", L"246"},
    {L"Djibouti", L"253"},
    {L"Dominica", L"1767"},
    {L"Dominican Republic", L"1809"},
    {L"East Timor", L"670"},
    {L"Ecuador", L"593"},
    {L"Egypt", L"20"},
    {L"El Salvador", L"503"},
    {L"Equatorial Guinea", L"240"},
    {L"Eritrea", L"291"},
    {L"Estonia", L"372"},
    {L"Ethiopia", L"251"},
    {L"Euro Sat", L"388"},
    {L"Faeroe Islands", L"298"},
    {L"Falkland Islands", L"500"},
    {L"Fiji", L"679"},
    {L"Finland", L"358"},
    {L"France", L"33"},
    {L"French Guiana", L"594"},
    {L"French Polynesia", L"689"},
    {L"Gabon", L"241"},
    {L"Gambia", L"220"},
    {L"Georgia", L"995"},
    {L"Germany", L"49"},
    {L"Ghana", L"233"},
    {L"Gibraltar", L"350"},
    {L"Global Personal Number", L"878"},
    {L"Global Satellite", L"881"},
    {L"Greece", L"30"},
    {L"Greenland", L"299"},
    {L"Grenada", L"1473"},
    {L"Guadeloupe", L"590"},
    {L"Guam", L"1671"},
    {L"Guantanamo Bay", L"5399"},
    {L"Guatemala", L"502"},
    {L"Guinea", L"224"},
    {L"Guinea Bissau", L"245"},
    {L"Guyana", L"592"},
    {L"Haiti", L"509"},
    {L"Honduras", L"504"},
    {L"Hong Kong", L"852"},
    {L"Hungary", L"36"},
    {L"Iceland", L"354"},
    {L"India", L"91"},
    {L"Indonesia", L"62"},
    {L"Iran", L"98"},
    {L"Iraq", L"964"},
    {L"Ireland", L"353"},
    {L"Israel", L"972"},
    {L"Italy", L"39"},
    {L"Ivory Coast", L"225"},
    {L"Jamaica", L"1876"},
    {L"Japan", L"81"},
    {L"Jordan", L"962"},
    {L"Kazakhstan", L"73"},
    {L"Kenya", L"254"},
    {L"Kiribati", L"686"},
    {L"Korea North", L"850"},
    {L"Korea South", L"82"},
    {L"Kosovo", L"381"},
    {L"Kuwait", L"965"},
    {L"Kyrgyzstan", L"996"},
    {L"Laos", L"856"},
    {L"Latvia", L"371"},
    {L"Lebanon", L"961"},
    {L"Lesotho", L"266"},
    {L"Liberia", L"231"},
    {L"Libya", L"218"},
    {L"Liechtenstein", L"423"},
    {L"Lithuania", L"370"},
    {L"Luxembourg", L"352"},
    {L"Macao", L"853"},
    {L"Macedonia", L"389"},
    {L"Madagascar", L"261"},
    {L"Malawi", L"265"},
    {L"Malaysia", L"60"},
    {L"Maldives", L"960"},
    {L"Mali", L"223"},
    {L"Malta", L"356"},
    {L"Marshall Islands", L"692"},
    {L"Martinique", L"596"},
    {L"Mauritania", L"222"},
    {L"Mauritius", L"230"},
    {L"Mayotte", L"2692"},
    {L"Mexico", L"52"},
    {L"Micronesia", L"691"},
    {L"Midway Islands", L"6998"},
    {L"Moldova", L"373"},
    {L"Monaco", L"377"},
    {L"Mongolia", L"976"},
    {L"Montserrat", L"1664"},
    {L"Morocco", L"212"},
    {L"Mozambique", L"258"},
    {L"Myanmar", L"95"},
    {L"Namibia", L"264"},
    {L"Nauru", L"674"},
    {L"Nepal", L"977"},
    {L"Netherlands Antilles", L"599"},
    {L"Netherlands", L"31"},
    {L"New Caledonia", L"687"},
    {L"New Zealand", L"64"},
    {L"Nicaragua", L"505"},
    {L"Niger", L"227"},
    {L"Nigeria", L"234"},
    {L"Niue", L"683"},
    {L"Norfolk Islands", L"6723"},
    {L"Northern Marianas", L"1670"},
    {L"Norway", L"47"},
    {L"Oman", L"968"},
    {L"Pakistan", L"92"},
    {L"Palau", L"680"},
    {L"Palestine", L"970"},
    {L"Panama", L"507"},
    {L"Papua New Guinea", L"675"},
    {L"Paraguay", L"595"},
    {L"Peru-Rural", L"5118"},
    {L"Peru", L"51"},
    {L"Philippines", L"63"},
    {L"Poland", L"48"},
    {L"Portugal", L"3517"},
    {L"Puerto Rico", L"1787"},
    {L"Qatar", L"974"},
    {L"Reunion", L"262"},
    {L"Romania", L"40"},
    {L"Russia", L"7"},
    {L"Rwanda", L"250"},
    {L"San Marino", L"378"},
    {L"Sao Tome & Principe", L"239"},
    {L"Saudi Arabia", L"966"},
    {L"Senegal", L"221"},
    {L"Serbia", L"381"},
    {L"Seychelles", L"248"},
    {L"Sierra Leone", L"232"},
    {L"Singapore", L"65"},
    {L"Slovakia-Bratislava", L"4212"},
    {L"Slovakia", L"421"},
    {L"Slovenia", L"386"},
    {L"Solomon Islands", L"677"},
    {L"Somalia", L"252"},
    {L"South Africa", L"27"},
    {L"Spain", L"34"},
    {L"Sri Lanka", L"94"},
    {L"St. Helena", L"290"},
    {L"St. Kitts & Nevis", L"1869"},
    {L"St. Lucia", L"1758"},
    {L"St. Pierre", L"508"},
    {L"St. Vincents", L"1784"},
    {L"Sudan", L"249"},
    {L"Suriname", L"597"},
    {L"Swaziland", L"268"},
    {L"Sweden", L"46"},
    {L"Switzerland", L"41"},
    {L"Syria", L"963"},
    {L"Taiwan", L"886"},
    {L"Tajikstan", L"992"},
    {L"Tanzania", L"255"},
    {L"Thailand", L"66"},
    {L"Togo", L"228"},
    {L"Tokelau", L"690"},
    {L"Tonga", L"676"},
    {L"Trinidad & Tobago", L"1868"},
    {L"Tunisia", L"216"},
    {L"Turkey", L"90"},
    {L"Turkmenistan", L"993"},
    {L"Turks & Caicos Island", L"1649"},
    {L"Tuvalu", L"688"},
    {L"Uganda", L"256"},
    {L"UK", L"44"},
    {L"Ukraine", L"380"},
    {L"United Arab Emirates", L"971"},
    {L"Uruguay", L"598"},
    {L"USA", L"1"},
    {L"Uzbekistan", L"998"},
    {L"Vanuatu", L"678"},
    {L"Venezuela", L"58"},
    {L"Vietnam", L"84"},
    {L"Virgin Islands USA", L"1340"},
    {L"Wallis & Futuna", L"681"},
    {L"Western Samoa", L"685"},
    {L"Yemen", L"967"},
    {L"Zaire", L"243"},
    {L"Zambia", L"260"},
    {L"Zimbabwe", L"263"},
};

static_assert(std::size(kCountries) == 244);

constexpr wchar_t lower_ascii(wchar_t c)
{
    return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

bool lowered_starts_with(std::wstring_view name, std::wstring_view typed)
{
    if (name.size() < typed.size()) {
        return false;
    }
    for (size_t i = 0; i < typed.size(); ++i) {
        if (lower_ascii(name[i]) != lower_ascii(typed[i])) {
            return false;
        }
    }
    return true;
}

} // namespace

size_t CountryTable::count()
{
    return std::size(kCountries);
}

std::wstring_view CountryTable::name(size_t i)
{
    assert(i < count());
    return kCountries[i].name;
}

std::wstring_view CountryTable::code(size_t i)
{
    assert(i < count());
    return kCountries[i].code;
}

std::vector<size_t> CountryTable::filter(std::wstring_view typed)
{
    std::vector<size_t> rows;
    for (size_t i = 0; i < count(); ++i) {
        if (lowered_starts_with(kCountries[i].name, typed)) {
            rows.push_back(i);
        }
    }
    return rows;
}

} // namespace vokar
