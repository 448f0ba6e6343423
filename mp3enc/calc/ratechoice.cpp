#include "mp3enc/calc/ratechoice.h"

#include <algorithm>

namespace ratechoice {

namespace {

// The bits a frame of `h`'s kind at `kbps` can hold: its own main data area and as much of the
// reservoir as it may draw on.
int roomBits(const mp3frame::Header &h, int kbps, int reservoir)
{
    const mp3frame::Header sized = h.withRate(kbps);
    return 8 * (sized.mainDataBytes() + std::min(reservoir, sized.reservoirLimit()));
}

// The reservoir a frame at `kbps` leaves the next one: what it does not use, within its limit.
int leftFor(const mp3frame::Header &h, int kbps, int reservoir, int bits)
{
    const mp3frame::Header sized = h.withRate(kbps);
    return std::min(reservoir + sized.mainDataBytes() - (bits + 7) / 8, sized.reservoirLimit());
}

// The rate LAME picks, as pick() describes it but for `leave`.
int lamesPick(Rule rule, int reservoir, const mp3frame::Header &h, int bits,
              const std::vector<int> &rates, bool silent)
{
    if (rates.empty())
        return 0;
    if (rule == Rule::Average) {
        // What is left of the reservoir once the data is taken out may be short of zero; the
        // frame's own area must make up for it.
        for (const int kbps : rates) {
            const mp3frame::Header sized = h.withRate(kbps);
            const int left = std::min(8 * reservoir - bits, 8 * sized.reservoirLimit());
            if (8 * sized.mainDataBytes() + left >= 0)
                return kbps;
        }
        return 0;
    }
    const auto lowest = std::find_if(
        rates.begin(), rates.end(), [&](int kbps) { return bits <= roomBits(h, kbps, reservoir); });
    if (lowest == rates.end())
        return 0;
    // The bytes a larger frame leaves unused go to the reservoir, up to what the largest frame
    // may leave: the encoder takes the largest frame whose leftover stays within that.
    const int absorbable = silent ? 0 : 8 * h.withRate(rates.back()).reservoirLimit();
    for (auto kbps = rates.end() - 1; kbps != lowest && absorbable > 0; --kbps) {
        if (roomBits(h, *kbps, reservoir) - bits <= absorbable)
            return *kbps;
    }
    return *lowest;
}

} // namespace

int pick(Rule rule, int reservoir, const mp3frame::Header &h, int bits,
         const std::vector<int> &rates, bool silent, int leave)
{
    const int lames = lamesPick(rule, reservoir, h, bits, rates, silent);
    if (lames != 0 && leftFor(h, lames, reservoir, bits) >= leave)
        return lames;
    int highest = 0;
    for (const int kbps : rates) {
        if (bits > roomBits(h, kbps, reservoir))
            continue;
        if (leftFor(h, kbps, reservoir, bits) >= leave)
            return kbps;
        highest = kbps;
    }
    return highest;
}

bool pickedAsSilent(int reservoir, const mp3frame::Header &h, int bits,
                    const std::vector<int> &rates, int kbps)
{
    return pick(Rule::Variable, reservoir, h, bits, rates) != kbps &&
           pick(Rule::Variable, reservoir, h, bits, rates, true) == kbps;
}

} // namespace ratechoice
