#include "updater/run_lock.h"

#include <aclapi.h>
#include <sddl.h>

const wchar_t RunLock::kName[] = L"Global\\!letterwing_update_lock";

namespace {

// The private namespace's alias and the mutex's name in it.
const wchar_t kNamespaceAlias[] = L"letterwing_update";
const wchar_t kPrivateName[] = L"letterwing_update\\lock";
// Owned by the Administrators group; SYSTEM and that group may use it, and
// nobody else.
const wchar_t kLockSecurity[] = L"O:BAD:P(A;;GA;;;SY)(A;;GA;;;BA)";

// The private-namespace calls, looked up at run time: the program starts
// on systems without them, and Wine does not export them.
struct NamespaceCalls {
  using CreateBoundary = HANDLE(WINAPI*)(LPCWSTR, ULONG);
  using AddSid = BOOL(WINAPI*)(HANDLE*, PSID);
  using DeleteBoundary = VOID(WINAPI*)(HANDLE);
  using CreateNamespace = HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES, LPVOID, LPCWSTR);
  using OpenNamespace = HANDLE(WINAPI*)(LPVOID, LPCWSTR);
  using CloseNamespace = BOOLEAN(WINAPI*)(HANDLE, ULONG);

  CreateBoundary createBoundary = nullptr;
  AddSid addSid = nullptr;
  DeleteBoundary deleteBoundary = nullptr;
  CreateNamespace createNamespace = nullptr;
  OpenNamespace openNamespace = nullptr;
  CloseNamespace closeNamespace = nullptr;

  bool available() const {
    return createBoundary && addSid && deleteBoundary && createNamespace && openNamespace &&
           closeNamespace;
  }
};

template <typename Call>
void Find(HMODULE module, const char* name, Call* call) {
  *call = reinterpret_cast<Call>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

const NamespaceCalls& Namespaces() {
  static const NamespaceCalls calls = [] {
    NamespaceCalls found;
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    if (kernel == nullptr) return found;
    Find(kernel, "CreateBoundaryDescriptorW", &found.createBoundary);
    Find(kernel, "AddSIDToBoundaryDescriptor", &found.addSid);
    Find(kernel, "DeleteBoundaryDescriptor", &found.deleteBoundary);
    Find(kernel, "CreatePrivateNamespaceW", &found.createNamespace);
    Find(kernel, "OpenPrivateNamespaceW", &found.openNamespace);
    Find(kernel, "ClosePrivateNamespace", &found.closeNamespace);
    return found;
  }();
  return calls;
}

// The lock's security: kLockSecurity, or the same list without the owner
// where the caller may not name that owner (then its own default owner).
struct LockSecurity {
  UniqueLocalMemory<PSECURITY_DESCRIPTOR> descriptor;
  SECURITY_ATTRIBUTES attributes = {sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};

  bool Make(bool withOwner) {
    const wchar_t* text = withOwner ? kLockSecurity : kLockSecurity + 4;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(text, SDDL_REVISION_1,
                                                              descriptor.receive(), nullptr)) {
      return false;
    }
    attributes.lpSecurityDescriptor = descriptor.get();
    return true;
  }
};

// Whether the object is owned by SYSTEM or the Administrators group, as
// every lock this program creates is.
bool OwnedByAdministrators(HANDLE object) {
  PSID owner = nullptr;
  UniqueLocalMemory<PSECURITY_DESCRIPTOR> descriptor;
  if (GetSecurityInfo(object, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                      nullptr, nullptr, descriptor.receive()) != ERROR_SUCCESS ||
      owner == nullptr) {
    return false;
  }
  return IsWellKnownSid(owner, WinBuiltinAdministratorsSid) ||
         IsWellKnownSid(owner, WinLocalSystemSid);
}

// Creates or opens the mutex `name`; null with the reason in the last error.
HANDLE CreateLockMutex(const wchar_t* name) {
  LockSecurity security;
  if (!security.Make(true)) return nullptr;
  HANDLE mutex = CreateMutexW(&security.attributes, FALSE, name);
  if (mutex == nullptr && GetLastError() == ERROR_INVALID_OWNER && security.Make(false)) {
    mutex = CreateMutexW(&security.attributes, FALSE, name);
  }
  return mutex;
}

}  // namespace

bool RunLock::UsesPrivateNamespace() { return Namespaces().available(); }

RunLock::RunLock(DWORD waitMilliseconds) { Take(waitMilliseconds); }

void RunLock::Take(DWORD waitMilliseconds) {
  const NamespaceCalls& calls = Namespaces();
  const wchar_t* name = kName;
  if (calls.available()) {
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof administrators;
    HANDLE boundary = calls.createBoundary(kNamespaceAlias, 0);
    LockSecurity security;
    if (boundary != nullptr &&
        CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size) &&
        calls.addSid(&boundary, administrators) && security.Make(true)) {
      namespace_ = calls.createNamespace(&security.attributes, boundary, kNamespaceAlias);
      // Another run made it: open it. The namespace goes with its last
      // handle, so a run that finds it gone makes it again.
      for (int attempt = 0; namespace_ == nullptr && attempt < 3; ++attempt) {
        if (GetLastError() != ERROR_ALREADY_EXISTS) break;
        namespace_ = calls.openNamespace(boundary, kNamespaceAlias);
        if (namespace_ == nullptr) {
          namespace_ = calls.createNamespace(&security.attributes, boundary, kNamespaceAlias);
        }
      }
    }
    error_ = GetLastError();
    if (boundary != nullptr) calls.deleteBoundary(boundary);
    if (namespace_ == nullptr) {
      why_ = L"its private namespace could not be made or opened";
      return;
    }
    name = kPrivateName;
  }
  mutex_.reset(CreateLockMutex(name));
  error_ = GetLastError();
  if (!mutex_) {
    why_ = error_ == ERROR_INVALID_HANDLE ? L"an object of another kind has its name"
           : error_ == ERROR_ACCESS_DENIED ? L"an object of its name shuts this program out"
                                           : L"it could not be created";
    return;
  }
  // Nobody else can have made a mutex in the private namespace; a Global
  // one made by anybody but SYSTEM or an administrator is not the lock.
  if (namespace_ == nullptr && error_ == ERROR_ALREADY_EXISTS &&
      !OwnedByAdministrators(mutex_.get())) {
    mutex_.reset();
    why_ = L"a mutex of its name belongs to neither SYSTEM nor the Administrators group";
    return;
  }
  error_ = ERROR_SUCCESS;
  // An abandoned mutex is had all the same: its holder died.
  const DWORD waited = WaitForSingleObject(mutex_.get(), waitMilliseconds);
  if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) {
    state_ = State::Held;
  } else if (waited == WAIT_TIMEOUT) {
    state_ = State::Busy;
  } else {
    error_ = GetLastError();
    why_ = L"it could not be waited for";
  }
}

RunLock::~RunLock() {
  if (state_ == State::Held) ReleaseMutex(mutex_.get());
  mutex_.reset();
  if (namespace_ != nullptr) Namespaces().closeNamespace(namespace_, 0);
}
