// Permissions bind the superuser too, for the life of the object: the calling thread's effective
// capabilities that bypass file permissions are dropped, and put back afterwards. Threads started
// meanwhile inherit the dropped set, so work a window runs on a thread of its own sees the
// permissions as any user would. Nothing happens for an ordinary user.
#pragma once

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace penamo::test {

class TWithoutSuperuserRights {
 public:
  TWithoutSuperuserRights() {
    if (::geteuid() != 0) return;
    if (::syscall(SYS_capget, &FHeader, FSaved) != 0) return;
    __user_cap_data_struct dropped[2] = {FSaved[0], FSaved[1]};
    for (const int capability : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER})
      dropped[capability / 32].effective &= ~(1u << (capability % 32));
    FDropped = ::syscall(SYS_capset, &FHeader, dropped) == 0;
  }
  ~TWithoutSuperuserRights() {
    if (FDropped) ::syscall(SYS_capset, &FHeader, FSaved);
  }
  TWithoutSuperuserRights(const TWithoutSuperuserRights&) = delete;
  TWithoutSuperuserRights& operator=(const TWithoutSuperuserRights&) = delete;

  // Whether permissions now bind this thread (always for an ordinary user).
  bool Binding() const { return ::geteuid() != 0 || FDropped; }

 private:
  __user_cap_header_struct FHeader{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct FSaved[2] = {};
  bool FDropped = false;
};

}  // namespace penamo::test
