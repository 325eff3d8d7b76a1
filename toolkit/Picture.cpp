#include "Picture.h"

#include <cxxabi.h>

#include <cstdlib>
#include <typeinfo>
#include <utility>

namespace penamo {

std::unique_ptr<TIcon> TIcon::FromIcon(const QIcon& icon) {
  if (icon.isNull()) return std::make_unique<TIcon>();
  QSize largest(32, 32);  // scalable icons offer no sizes: the version dialog's size
  const QList<QSize> sizes = icon.availableSizes();
  if (!sizes.isEmpty()) {
    largest = sizes.front();
    for (const QSize& size : sizes) {
      if (size.width() * size.height() > largest.width() * largest.height()) largest = size;
    }
  }
  return std::make_unique<TIcon>(icon.pixmap(largest));
}

namespace {

// The class name a user would recognise: demangled, without the namespace.
std::string ClassNameOf(const TGraphic& graphic) {
  const char* mangled = typeid(graphic).name();
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> demangled(
      abi::__cxa_demangle(mangled, nullptr, nullptr, &status), std::free);
  std::string name = status == 0 && demangled ? demangled.get() : mangled;
  const std::size_t scope = name.rfind("::");
  return scope == std::string::npos ? name : name.substr(scope + 2);
}

}  // namespace

TPicture::TPicture() = default;

TPicture::~TPicture() {
  // The graphic must not call back into a picture that is going away.
  if (FGraphic) FGraphic->OnChange = nullptr;
}

void TPicture::Assign(const TBitmap* source) {
  if (source == nullptr) {
    SetGraphic(nullptr);
    return;
  }
  auto bitmap = std::make_unique<TBitmap>();
  bitmap->ShareFrom(source);
  SetGraphic(std::move(bitmap));
}

void TPicture::Assign(const TIcon* source) {
  if (source == nullptr) {
    SetGraphic(nullptr);
    return;
  }
  SetGraphic(std::make_unique<TIcon>(source->Pixmap()));
}

void TPicture::Assign(const TPicture* source) {
  if (source == this) return;
  Assign(source == nullptr ? nullptr : source->Graphic());
}

void TPicture::Assign(const TGraphic* source) {
  if (source == nullptr) {
    SetGraphic(nullptr);
  } else if (const auto* bitmap = dynamic_cast<const TBitmap*>(source)) {
    Assign(bitmap);
  } else if (const auto* icon = dynamic_cast<const TIcon*>(source)) {
    Assign(icon);
  } else {
    throw EConvertError(ClassNameOf(*source) + " を TPicture に代入することはできません");
  }
}

const TBitmap* TPicture::Bitmap() const {
  return dynamic_cast<const TBitmap*>(FGraphic.get());
}

const TIcon* TPicture::Icon() const {
  return dynamic_cast<const TIcon*>(FGraphic.get());
}

void TPicture::SetGraphic(std::unique_ptr<TGraphic> graphic) {
  if (FGraphic) FGraphic->OnChange = nullptr;
  FGraphic = std::move(graphic);
  if (FGraphic) FGraphic->OnChange = [this](TGraphic&) { Changed(); };
  Changed();
}

void TPicture::Changed() {
  if (OnChange) OnChange(*this);
}

}  // namespace penamo
