// The base of the interfaces a picture's bytes, rows and bands pass through (TStream,
// TRowSource, TDeepRowSource, TBandWriter, the row decoders): each is used through a pointer or
// a reference, destroyed through the base, and never copied or assigned, since a copy of the
// base would slice the implementation off.
#pragma once

namespace penamo {

class TInterface {
 public:
  virtual ~TInterface() = default;
  TInterface(const TInterface&) = delete;
  TInterface& operator=(const TInterface&) = delete;

 protected:
  TInterface() = default;
};

}  // namespace penamo
