#pragma once
// Rework seen on any station: whether the factory's database already holds a passing record of
// an identity and MD5. A quick indexed query on a connection of its own, asked before a record is
// written; when the database is away the answer is "not known" and the local log alone decides.
#include "station/Database.h"

#include <chrono>
#include <mutex>
#include <string>

namespace station {

class RepeatLookup {
  public:
    explicit RepeatLookup(std::string connection) : Connection(std::move(connection)) {}

    // True only when the database answered that such a passing record exists. A failure gives
    // false at once and leaves the database alone for a while, so a database that is away never
    // holds up the records of a shift.
    bool PassedElsewhere(const std::string& id, const std::string& md5);

  private:
    const std::string Connection;
    std::mutex Lock;
    Database Db;
    std::chrono::steady_clock::time_point QuietUntil{};
};

} // namespace station
