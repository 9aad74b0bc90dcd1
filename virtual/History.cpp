#include "History.h"

namespace virtualboard {

void History::add(const Exchange& exchange)
{
    if (exchanges_.size() == kKept) {
        levelsBefore_ = exchanges_.front().pwm;
        exchanges_.pop_front();
    }
    exchanges_.push_back(exchange);
}

void History::clear()
{
    if (!exchanges_.empty())
        levelsBefore_ = exchanges_.back().pwm;
    exchanges_.clear();
}

}  // namespace virtualboard
