#pragma once

#include <cstddef>
#include <set>
#include <string>
#include <vector>

#include "snmp/netsnmp/types.hpp"
#include "snmp/oid.hpp"
#include "snmp/pdu.hpp"
#include "snmp/response_map.hpp"

namespace tamro::snmp {

// The walk of some table columns in one cycle: GETBULK requests (GETNEXT for SNMPv1) for
// several columns at once, each column followed until it leaves its subtree. Bounded in
// rows per column and in requests; a device that does not move forward ends it.
class table_walk {
 public:
  static constexpr int rows_per_request = 25;  // GETBULK max-repetitions
  static constexpr std::size_t columns_per_request = 10;
  static constexpr int max_requests = 2000;

  table_walk(const std::set<std::string>& columns, int version, std::size_t max_rows);

  bool finished() const;
  // The request for the next rows of the columns not finished yet.
  pdu next_request();
  // Takes the answer to the last request. Returns why the walk cannot go on, or an empty
  // text.
  std::string take(const netsnmp_pdu& answer);
  // The values walked, keyed by their whole OIDs as an answer's values are.
  oid_value_map& values() { return values_; }

 private:
  struct column {
    std::vector<oid_value::subidentifier> root;
    std::vector<oid_value::subidentifier> last;  // the last OID seen, the root at first
    bool done = false;
    std::size_t rows = 0;
  };

  bool bulk_;
  std::size_t max_rows_;
  int requests_ = 0;
  std::vector<column> columns_;
  std::vector<std::size_t> asked_;  // the columns of the last request, in its order
  oid_value_map values_;
};

}  // namespace tamro::snmp
