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

// How much one walk request asks for.
struct walk_shape {
  int rows = 25;             // rows of each column (GETBULK max-repetitions)
  std::size_t columns = 10;  // columns at once
  bool operator==(const walk_shape& other) const {
    return rows == other.rows && columns == other.columns;
  }
  bool operator!=(const walk_shape& other) const { return !(*this == other); }
};

// The walk of some table columns in one cycle: GETBULK requests (GETNEXT for SNMPv1) for
// several columns at once, each column followed until it leaves its subtree. Bounded in
// rows per column and in requests. A column the device cannot walk (no progress, an error
// for it, an answer too big even for one value) ends alone, with what it gathered so far;
// an answer too big makes the requests smaller for the rest of the walk.
class table_walk {
 public:
  // A column that ended before its end, and why.
  struct failure {
    std::string column;
    std::string reason;
  };
  static constexpr int max_requests = 2000;

  table_walk(const std::set<std::string>& columns, int version, std::size_t max_rows,
             walk_shape start = {});

  // Whether no column is left to ask for.
  bool finished() const;
  // Whether every column failed: the walk gathered nothing worth reporting.
  bool failed() const;
  // Whether the device answered any request of the walk.
  bool answered() const { return answered_; }
  // The request for the next rows of the columns not finished yet.
  pdu next_request();
  // Takes the answer to the last request; an answer with no request asked gives nothing.
  void take(const netsnmp_pdu& answer);
  // An answer without a PDU: like an empty one, the columns asked have nothing more.
  void take_nothing();
  // The last request got no answer: its columns fail with the reason.
  void fail_request(const std::string& reason);
  // The columns that failed since the last call, in the order they failed.
  std::vector<failure> new_failures();
  // What the requests ask for now: smaller than at the start after an answer too big.
  const walk_shape& current_shape() const { return shape_; }
  // The values walked, keyed by their whole OIDs as an answer's values are.
  oid_value_map& values() { return values_; }

 private:
  enum class state { walking, complete, failed };
  struct column {
    std::string text;  // as the mapping names it
    std::vector<oid_value::subidentifier> root;
    std::vector<oid_value::subidentifier> last;  // the last OID seen, the root at first
    state progress = state::walking;
    std::size_t rows = 0;
  };

  void fail(column& walked, const std::string& reason);
  // Asks for less after an answer too big; false when a request is as small as it gets.
  bool shrink();
  void take_error(long status, long index);
  void take_values(const netsnmp_pdu& answer);
  void complete_asked();

  bool bulk_;
  std::size_t max_rows_;
  walk_shape shape_;
  int requests_ = 0;
  bool answered_ = false;
  std::vector<column> columns_;
  std::vector<std::size_t> asked_;  // the columns of the last request, in its order
  std::vector<failure> failures_;   // not yet handed out
  oid_value_map values_;
};

}  // namespace tamro::snmp
