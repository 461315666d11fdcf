// A session bridge whose answers a test sets, recording what it was asked,
// for the check run and phase two. The bridge itself is tested on the fake
// platform in session_bridge_test.cpp.
#pragma once
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "session/session_bridge.h"

namespace tamsel::fakes {

class ScriptedBridge final : public SessionBridge {
public:
    std::vector<std::uint32_t> sessions;  // where the program runs
    std::set<std::uint32_t> unclosable;   // sessions where closing fails
    RaiseOutcome raise_result = RaiseOutcome::not_up;
    std::map<std::uint32_t, std::string> users;  // who is logged on where

    std::vector<std::vector<std::uint32_t>> raised;
    std::vector<std::uint32_t> closed;  // every session asked, in order

    Result<std::vector<std::uint32_t>> program_sessions(const std::string&) override { return sessions; }
    bool close_program(const std::string&, std::uint32_t session, Log&) override {
        closed.push_back(session);
        return !unclosable.count(session);
    }
    RaiseOutcome raise_program(const std::string&, const std::vector<std::uint32_t>& list, Log&) override {
        raised.push_back(list);
        return raise_result;
    }
    std::optional<std::string> session_user(std::uint32_t session) override {
        const auto user = users.find(session);
        return user == users.end() ? std::nullopt : std::optional<std::string>(user->second);
    }
};

}  // namespace tamsel::fakes
