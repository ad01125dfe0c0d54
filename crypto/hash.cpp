#include "crypto/hash.h"

#include <new>

#include "crypto/md5.h"
#include "crypto/sha1.h"
#include "crypto/sha256.h"
#include "crypto/sha512.h"
#include "platform/wipe.h"

namespace {

template <typename State, void (*Init)(State&), void (*Update)(State&, const void*, std::size_t),
          void (*Final)(State&, std::uint8_t*)>
struct HashOps {
    static_assert(sizeof(State) <= kMaxHashStateSize);

    static void InitState(void* state) { Init(*static_cast<State*>(state)); }
    static void UpdateState(void* state, const void* data, std::size_t length) {
        Update(*static_cast<State*>(state), data, length);
    }
    static void FinalState(void* state, std::uint8_t* digest) {
        Final(*static_cast<State*>(state), digest);
    }
    static void* Create() {
        auto* state = new State;
        Init(*state);
        return state;
    }
    static void Free(void* context) {
        auto* state = static_cast<State*>(context);
        SecureWipeObject(*state);
        delete state;
    }
    static void Finish(void* context, std::uint8_t* digest) {
        Final(*static_cast<State*>(context), digest);
        delete static_cast<State*>(context);
    }

    static constexpr HashDescriptor Describe(std::size_t digestLength, const char* name) {
        constexpr std::size_t blockLength = sizeof(State::block);
        static_assert(blockLength <= kMaxHashBlockLength);
        return {Create,     UpdateState,  Finish,      Free,          InitState, UpdateState,
                FinalState, digestLength, blockLength, sizeof(State), name};
    }
};

using Md5Ops = HashOps<Md5State, Md5Init, Md5Update, Md5Final>;
using Sha1Ops = HashOps<Sha1State, Sha1Init, Sha1Update, Sha1Final>;
using Sha256Ops = HashOps<Sha256State, Sha256Init, Sha256Update, Sha256Final>;
using Sha384Ops = HashOps<Sha512State, Sha384Init, Sha512Update, Sha384Final>;
using Sha512Ops = HashOps<Sha512State, Sha512Init, Sha512Update, Sha512Final>;

}  // namespace

const HashDescriptor kHashMd5 = Md5Ops::Describe(kMd5DigestLength, "md5");
const HashDescriptor kHashSha1 = Sha1Ops::Describe(kSha1DigestLength, "sha1");
const HashDescriptor kHashSha256 = Sha256Ops::Describe(kSha256DigestLength, "sha256");
const HashDescriptor kHashSha384 = Sha384Ops::Describe(kSha384DigestLength, "sha384");
const HashDescriptor kHashSha512 = Sha512Ops::Describe(kSha512DigestLength, "sha512");

const HashDescriptor* FindHash(std::string_view name) {
    for (const HashDescriptor* hash :
         {&kHashMd5, &kHashSha1, &kHashSha256, &kHashSha384, &kHashSha512}) {
        if (name == hash->name) return hash;
    }
    return nullptr;
}
