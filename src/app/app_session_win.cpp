#include "app/app_session_win.h"

namespace tessary {

Session& appSession() {
  static Session session;
  return session;
}

}  // namespace tessary
