#include "support/pg_server.h"

namespace vorlan {

PgServer& PgServer::Shared() {
  static PgServer server;
  return server;
}

}  // namespace vorlan
