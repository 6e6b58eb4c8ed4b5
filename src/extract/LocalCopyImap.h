#pragma once
#include "extract/WalkCache.h"
#include "mail/ImapComponent.h"
#include "mail/MimeDecode.h"

#include <QString>

#include <memory>
#include <optional>

namespace vc {

// The IMAP component of a program that works from the local mail copy alone,
// without a server: the sign-in succeeds without a connection, the folders
// listed are those the copy keeps a complete walk of, a folder is "selected"
// as its last complete walk found it (its UIDVALIDITY, message count and
// UIDNEXT, so a walk takes that walk's UIDs and every message from the copy),
// and a single fetch hands out the kept record (by UID, or by its place in
// that walk). Nothing goes on a wire. What the copy does not hold fails with a
// text for the user: a folder it has no complete walk of, messages it does
// not keep with what the decoder is asked for.
class LocalCopyImap : public ImapComponent {
    Q_OBJECT
public:
    explicit LocalCopyImap(MailCacheSettings settings, QObject *parent = nullptr);

    void setDecodeNeeds(const DecodeNeeds &needs) override { needs_ = needs; }
    const DecodeNeeds *decodeNeeds() const override { return &needs_; }

    void setSsl(bool) override {}
    void setPort(int port) override { port_ = port; }
    ImapResult<void> Connect(const QString &host) override;
    ImapResult<QString> SendRawCommand(const QString &cmd) override;
    ImapResult<void> Login(const QString &user, const QString &password) override;
    ImapResult<void> LoginWithToken(const QString &user, const QString &token) override;
    ImapResult<MailboxList> ListMailboxes(const QString &reference, const QString &pattern) override;
    ImapResult<MailboxStatus> SelectMailbox(const QString &mailbox) override;
    int NumMessages() override { return selected_ ? int(selected_->exists) : 0; }
    ImapResult<MailRecord> FetchSingle(int number, bool bUid) override;
    QString LastErrorText() const override { return lastError_; }
    ImapResult<void> Disconnect() override;
    bool isSignedIn() const override { return signedIn_; }
    std::optional<MailboxStatus> untouchedSelection(const QString &mailbox) const override;
    ImapResult<UidSet> searchUids(const SearchFilter &filter) override;
    ImapResult<void> startUidWalk(const UidSet &uids, UidWalkOptions options = {}) override;

private:
    // The fault, its text kept as the last error.
    ImapFault fail(ImapFailure kind, const QString &text);
    void unselect();
    template <class T>
    ImapResult<T> ok(T value);
    ImapResult<void> done();
    // "Inbox of me@example.org on imap.example.org:993"
    QString where(const QString &folder) const;

    MailCacheSettings settings_;
    DecodeNeeds needs_;
    QString host_, user_;
    int port_ = 0;
    bool connected_ = false, signedIn_ = false;
    // The copy, opened at first use, once signed in; the key of this account
    // and server.
    ImapResult<MailCache *> copy();
    MailCacheKey key(const QString &folder) const;

    std::unique_ptr<MailCache> cache_;
    QString selectedName_;
    std::optional<MailboxStatus> selected_;
    UidSet selectedUids_;
    QString warning_;  // the copy was set aside as damaged when it was opened
    QString lastError_;
};

}  // namespace vc
