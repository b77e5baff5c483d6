// The one error of the database store, with what kind of failure it was:
// a caller decides by the kind (stop a board, spool a record, refuse the
// run), never by the text.
#pragma once

#include <stdexcept>
#include <string>

namespace varnel::store {

class StoreError : public std::runtime_error {
 public:
  enum class Kind {
    Unreachable,  // no connection, the connection broke, or no answer in time
    Refused,      // a database of another schema, no such counter, bad input
    Failed,       // the server refused a statement
  };
  StoreError(Kind kind, const std::string& text) : std::runtime_error(text), kind_(kind) {}
  Kind kind() const { return kind_; }

 private:
  Kind kind_;
};

}  // namespace varnel::store
