// Shows the object core: a shared object, an owner that lets go when asked,
// and the error policy.
#include <cstdio>

#include "vorn/vorn.h"

namespace {

class Document : public Vorn_BaseClass {
public:
  Document() { _SetExactType<Document>(); }
  ~Document() override { std::puts("document deleted"); }
};

struct Owner {
  Vorn::SharedPtr<Document> doc;
};

}  // namespace

int main() {
  Owner owner{Vorn::SharedPtr<Document>(new Document)};
  std::printf("type: %.*s, owned: %d\n", static_cast<int>(owner.doc->GetExactTypeName().size()),
              owner.doc->GetExactTypeName().data(), owner.doc->IsOwned());

  // The owner registers to be told when somebody asks for the document's end.
  owner.doc->AddDestructionRequestCB(
      [](unsigned int, Vorn_BaseClass*, void* ctx) {
        std::puts("owner told: releasing the document");
        static_cast<Owner*>(ctx)->doc.Reset();
      },
      &owner, nullptr);

  Vorn::SharedPtr<Document> other = owner.doc;
  other.Reset();
  owner.doc->RequestDestruction();  // the owner lets go, and the document goes
  std::printf("owner holds a document: %d\n", static_cast<bool>(owner.doc));
  return owner.doc ? 1 : 0;
}
