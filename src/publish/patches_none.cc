// Builds without libzstd make no patches; --previous is refused.
#include "publish/patches.h"
#include "publish/publisher.h"

namespace publish {

struct Patches::Impl {
  bool wanted = false;
};

Patches::Patches(const PublishOptions& options, const std::string&, const std::string&, PatchReport*)
    : impl_(new Impl) {
  impl_->wanted = !options.previousDirs.empty();
}

Patches::~Patches() = default;

bool Patches::check(std::string* error) const {
  if (!impl_->wanted) return true;
  *error = "this tervalis-publish was built without libzstd and cannot make patches (--previous)";
  return false;
}

std::string Patches::reservedReason(const std::string&) const { return ""; }
bool Patches::make(const std::vector<PatchTarget>&, int64_t, Progress*, std::string*) { return true; }
bool Patches::publishList(std::string*) { return true; }
bool Patches::finish(std::string*) { return true; }

}  // namespace publish
