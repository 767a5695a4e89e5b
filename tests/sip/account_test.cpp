#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "sip/account.h"
#include "tests/sip/fake_call.h"

namespace {

TEST(ServerText, PortAfterFirstColonOrDefault) {
    struct Case {
        const char* text;
        const char* domain;
        int port;
    };
    const Case cases[] = {
        {"sip1.telvira.example", "sip1.telvira.example", 5060},
        {"sip1.telvira.example:5070", "sip1.telvira.example", 5070},
        {"sip1.telvira.example:abc", "sip1.telvira.example", 5060},
        {"sip1.telvira.example:", "sip1.telvira.example", 5060},
        {"sip1.telvira.example:5070x", "sip1.telvira.example", 5060},
        {"host:5080:9", "host", 5060},
        // Only ten characters after the colon are read.
        {"host:00000050601", "host", 5060},
        {"host:0000005061", "host", 5061},
    };
    for (const auto& c : cases) {
        const TServerText split = SplitServerText(c.text);
        EXPECT_EQ(split.domain, c.domain) << c.text;
        EXPECT_EQ(split.port, c.port) << c.text;
    }
}

TEST(Account, StartValues) {
    const double before = NowAsDays();
    TAccount account("stun.example", "sip.telvira.example", "1001", "secret", "proxy.example",
                     TAccountAddresses{"192.0.2.10", "192.168.1.20"});
    EXPECT_EQ(account.GetStunServer(), "stun.example");
    EXPECT_EQ(account.GetDomain(), "sip.telvira.example");
    EXPECT_EQ(account.GetUserName(), "1001");
    EXPECT_EQ(account.GetPassword(), "secret");
    EXPECT_EQ(account.GetProxy(), "proxy.example");
    EXPECT_EQ(account.GetServerAddress(), "192.0.2.10");
    EXPECT_EQ(account.GetLocalIp(), "192.168.1.20");
    EXPECT_EQ(account.GetServerPort(), 5060);
    EXPECT_EQ(account.GetLocalPort(), 0);
    EXPECT_EQ(account.GetState(), asIdle);
    EXPECT_EQ(account.GetExpires(), 3600);
    EXPECT_EQ(account.GetCSeq(), 1);
    EXPECT_EQ(account.GetCallId().size(), 32u);
    EXPECT_EQ(account.GetCallId().find_first_not_of("0123456789ABCDEF"), std::string::npos);
    EXPECT_EQ(account.GetBranch().size(), 17u);
    EXPECT_EQ(account.GetBranch().rfind("z9hG4bK", 0), 0u);
    EXPECT_EQ(account.GetTag().size(), 9u);
    EXPECT_GE(account.GetRegTime(), before);
    EXPECT_LT(account.GetRegTime() - before, 1.0 / 86400 * 5);
    for (const auto& text : {account.GetRealm(), account.GetNonce(), account.GetOpaque(),
                             account.GetQop(), account.GetAuthStatus(), account.GetRegistrarTag(),
                             account.GetRport(), account.GetStunAddress(),
                             account.GetPendingMessage(), account.GetDisplayName()}) {
        EXPECT_EQ(text, "");
    }
    TAccount other("", "sip.telvira.example", "1001", "secret", "",
                   TAccountAddresses{"192.0.2.10", "192.168.1.20"});
    EXPECT_NE(other.GetCallId(), account.GetCallId());
    EXPECT_NE(other.GetTag(), account.GetTag());
}

TEST(Account, ResolvesTheProxyWhenGivenElseTheDomain) {
    TAccount viaDomain("", "127.0.0.1", "1001", "secret", "");
    EXPECT_EQ(viaDomain.GetServerAddress(), "127.0.0.1");
    TAccount viaProxy("", "sip.telvira.example", "1001", "secret", "127.0.0.2");
    EXPECT_EQ(viaProxy.GetServerAddress(), "127.0.0.2");
    EXPECT_FALSE(viaProxy.GetLocalIp().empty());
}

TEST(Account, ContactUsesPublicAddressOnceKnown) {
    auto account = MakeTestAccount();
    EXPECT_EQ(account->GetContactHost(), "192.168.1.20");
    EXPECT_EQ(account->GetContactUri(), "sip:1001@192.168.1.20:5075");
    account->SetPublicAddress("203.0.113.7");
    EXPECT_EQ(account->GetContactHost(), "203.0.113.7");
    EXPECT_EQ(account->GetContactUri(), "sip:1001@203.0.113.7:5075");
    EXPECT_EQ(account->GetLocalIp(), "192.168.1.20");
}

TEST(Account, QuotedDisplayNameOnlyWhenSet) {
    auto account = MakeTestAccount();
    EXPECT_EQ(account->GetQuotedDisplayName(), "\"Linea 1\" ");
    account->SetDisplayName("");
    EXPECT_EQ(account->GetQuotedDisplayName(), "");
}

TEST(Account, LockIsReentrant) {
    auto account = MakeTestAccount();
    std::lock_guard outer(*account);
    std::lock_guard inner(*account);  // a plain mutex would deadlock here
}

// --- the list ---------------------------------------------------------------

std::shared_ptr<TAccount> AccountWithCallId(const std::string& callId) {
    auto account = MakeTestAccount();
    account->SetCallId(callId);
    return account;
}

TEST(AccountList, FindByCallIdOrStunTransactionId) {
    TSipAccounts list;
    auto first = AccountWithCallId("0123456789ABCDEF0123456789ABCDEF");
    auto second = AccountWithCallId("FEDCBA9876543210FEDCBA9876543210");
    list.AddAccountRef(first);
    list.AddAccountRef(second);

    EXPECT_EQ(list.FindAccount("FEDCBA9876543210FEDCBA9876543210"), second);
    // Characters 16 to 31 (1-based) of the Call-ID.
    EXPECT_EQ(list.FindAccount("0FEDCBA987654321"), second);
    EXPECT_EQ(list.FindAccount("F0123456789ABCDE"), first);
    // Off by one either way, other lengths, other case: nothing.
    EXPECT_EQ(list.FindAccount("FEDCBA9876543210"), nullptr);
    EXPECT_EQ(list.FindAccount("EDCBA9876543210F"), nullptr);
    EXPECT_EQ(list.FindAccount("0FEDCBA98765432"), nullptr);
    EXPECT_EQ(list.FindAccount("f0123456789abcde"), nullptr);
    EXPECT_EQ(list.FindAccount(""), nullptr);
}

TEST(AccountList, FindReturnsFirstOfEqualKeys) {
    TSipAccounts list;
    auto first = AccountWithCallId("same");
    auto second = AccountWithCallId("same");
    list.AddAccountRef(first);
    list.AddAccountRef(second);
    EXPECT_EQ(list.FindAccount("same"), first);
    // A whole short Call-ID matches; it has no transaction-identifier part.
    EXPECT_EQ(list.FindAccount("sam"), nullptr);
}

TEST(AccountList, OrderRemovalAndReferences) {
    TSipAccounts list;
    EXPECT_EQ(list.FirstAccount(), nullptr);
    EXPECT_EQ(list.AccountAt(0), nullptr);
    auto a = MakeTestAccount();
    auto b = MakeTestAccount();
    std::weak_ptr<TAccount> watchA = a;
    list.AddAccountRef(a);
    list.AddAccountRef(b);
    EXPECT_EQ(list.FirstAccount(), a);
    EXPECT_EQ(list.AccountAt(1), b);
    EXPECT_EQ(list.AccountAt(2), nullptr);
    EXPECT_EQ(list.AccountAt(-1), nullptr);

    a.reset();
    EXPECT_FALSE(watchA.expired()) << "the list holds its own reference";
    list.RemoveAccount(list.FirstAccount());
    EXPECT_TRUE(watchA.expired());
    EXPECT_EQ(list.FirstAccount(), b);
    list.RemoveAccount(MakeTestAccount());  // not listed: nothing happens
    EXPECT_EQ(list.Count(), 1);
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
}

TEST(AccountList, DestroyingTheListDropsItsReferences) {
    auto account = MakeTestAccount();
    std::weak_ptr<TAccount> watch = account;
    {
        TSipAccounts list;
        list.AddAccountRef(account);
        account.reset();
    }
    EXPECT_TRUE(watch.expired());
}

TEST(AccountList, ConcurrentCallersKeepTheListConsistent) {
    TSipAccounts list;
    auto fixed = AccountWithCallId("0123456789ABCDEF0123456789ABCDEF");
    list.AddAccountRef(fixed);
    constexpr int kRounds = 2000;
    std::atomic<int> found{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back([&list] {
            for (int i = 0; i < kRounds; ++i) {
                auto account = MakeTestAccount();
                list.AddAccountRef(account);
                list.RemoveAccount(account);
            }
        });
    }
    threads.emplace_back([&] {
        for (int i = 0; i < kRounds; ++i) {
            if (list.FindAccount("F0123456789ABCDE") == fixed) ++found;
            for (int k = 0; k < list.Count(); ++k) list.AccountAt(k);
        }
    });
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(found.load(), kRounds);
    EXPECT_EQ(list.Count(), 1);
    EXPECT_EQ(list.FirstAccount(), fixed);
}

}  // namespace
