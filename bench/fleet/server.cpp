#include "server.h"

#include <set>
#include <sstream>

#include "support/test_bytes.h"
#include "common/calendar_date.h"

namespace tamsel::fleet {

std::array<std::uint16_t, 3> version_numbers(const std::string& version) {
    std::array<std::uint16_t, 3> n{};
    std::istringstream in(version);
    char dot = 0;
    in >> n[0] >> dot >> n[1] >> dot >> n[2];
    return n;
}

std::string setup_bytes(const std::string& version) {
    std::string bytes = "MZ simulated Tamsel setup " + version + "\n";
    for (int i = 0; bytes.size() < 256; ++i) bytes += static_cast<char>('a' + (i * 7 + version.size()) % 26);
    return bytes;
}

std::optional<std::string> Vendor::make_answer(int day, const std::string* withdrawn) const {
    for (const Outage& outage : scenario_.outages)
        if (day >= outage.day && day < outage.day + outage.days) return std::nullopt;
    std::set<std::string> stopped;
    const StopOrder* last_stop = nullptr;
    bool revoked = false;
    for (const StopOrder& stop : scenario_.stops) {
        if (stop.day > day) break;
        stopped.insert(stop.versions.begin(), stop.versions.end());
        revoked = revoked || stop.revoke_working;
        last_stop = &stop;
    }
    const Release* latest = nullptr;
    for (const Release& release : scenario_.releases)
        if (release.day <= day) latest = &release;
    const bool reserve = revoked || (last_stop != nullptr && (latest == nullptr || last_stop->day >= latest->day));

    // The newest release that is not stopped is on offer; a stop order
    // that keeps the offer leaves the stopped one there.
    const Release* offer = nullptr;
    for (const Release& release : scenario_.releases) {
        if (release.day > day) break;
        if (withdrawn != nullptr && release.version == *withdrawn) continue;
        if (!stopped.count(release.version) || (reserve && last_stop->keep_offer && &release == latest))
            offer = &release;
    }
    std::ostringstream doc;
    doc << "schema = 1\n";
    if (offer != nullptr) {
        doc << "\n[[item]]\nid = " << (offer - scenario_.releases.data()) + 1 << "\ntype = \"update\"\nversion = \""
            << offer->version << "\"\nen = { title = \"Tamsel " << offer->version
            << "\", text = \"A newer Tamsel.\" }\n\n[download]\nversion = \"" << offer->version << "\"\nurl = \""
            << setup_url(offer->version) << "\"\nsha256 = \""
            << test_support::hex(SimCrypto::sha256(setup_bytes(offer->version)))
            << "\"\nsize = " << setup_bytes(offer->version).size() << "\n";
        if (offer->rollout_days > 0) {
            doc << "rollout_start = " << calendar_date_text(add_days(scenario_.start, offer->day))
                << "\nrollout_days = " << offer->rollout_days << "\n";
        }
    }
    doc << "\n[report]\nprefix = \"" << report_prefix() << "\"\n";
    if (reserve) {
        doc << "\n[stop]\nversions = [";
        const char* separator = "";
        for (const std::string& version : stopped) {
            doc << separator << '"' << version << '"';
            separator = ", ";
        }
        doc << "]\nrevoke_working = " << (revoked ? "true" : "false") << "\n";
    }
    const std::string document = doc.str();
    const PublicKey& key = reserve ? context_.reserve_key : context_.working_key;
    return "signature = \"" + test_support::base64(SimCrypto::tag(key, SimCrypto::sha256(document))) + "\"\n" +
           document;
}

}  // namespace tamsel::fleet
