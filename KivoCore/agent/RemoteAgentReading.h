#pragma once

// Which of our writes the agent's state is known to follow, in one place,
// so that the ledger's checker reads the agent as its client does. The
// agent acts on requests out of order and names no key source.

#include <QtGlobal>

#include <algorithm>

namespace kivo::agent {

// A write's own answer may carry the state from before the agent applied
// it: it follows only the writes before it that have all ended.
constexpr qint64 answerFollows(qint64 endedThrough, qint64 number)
{
    return std::min(endedThrough, number - 1);
}

// A state asked for now is made after every write that has ended.
constexpr qint64 askFollows(qint64 endedThrough)
{
    return endedThrough;
}

} // namespace kivo::agent
