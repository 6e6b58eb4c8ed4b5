#pragma once
#include "extract/WalkCache.h"
#include "mail/ImapComponent.h"
#include "mail/MimeDecode.h"

#include <QString>

#include <optional>

namespace vc {

// The IMAP component of a run that works from the local mail copy alone,
// without a server: the sign-in succeeds without a connection, a folder is
// "selected" as its last complete walk through the copy found it (its
// UIDVALIDITY, message count and UIDNEXT), so the walk takes that walk's UIDs
// and every message from the copy. Nothing goes on a wire. What the copy does
// not hold fails with a text for the user: a folder it has no complete walk
// of, messages it does not keep as the run needs them.
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
    template <class T>
    ImapResult<T> fail(ImapFailure kind, const QString &text);
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
    QString selectedName_;
    std::optional<MailboxStatus> selected_;
    QString lastError_;
};

}  // namespace vc
