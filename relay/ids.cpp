#include "relay/ids.hpp"

namespace orvane::relay {

std::string random_id(std::mt19937_64& rng, IdRange range) {
    std::uniform_int_distribution<std::uint32_t> pick(range.first, range.last);
    return std::to_string(pick(rng));
}

std::optional<std::string> fresh_id(std::mt19937_64& rng,
                                    const std::function<bool(std::string_view)>& is_live,
                                    IdRange range) {
    for (int attempt = 0; attempt < 64; ++attempt) {
        std::string id = random_id(rng, range);
        if (!is_live(id)) return id;
    }
    return std::nullopt;
}

std::mt19937_64 seeded_rng() {
    std::random_device device;
    std::seed_seq seed{device(), device(), device(), device(), device(), device()};
    return std::mt19937_64(seed);
}

}  // namespace orvane::relay
