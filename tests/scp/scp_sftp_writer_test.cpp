// The pipelined SFTP writer against a modelled server: a channel whose
// window opens as the model reads, replies in an order of the test's
// choosing, refusals, and the plan taken from the server's limits.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "scp/scp.h"
#include "scp/scp_sftp.h"
#include "scp/scp_sftp_writer.h"
#include "tests/scp/scp_bytes.h"

namespace {

Bytes Pattern(std::size_t n)
{
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
    return b;
}

// The server side: takes the requests the window lets through, writes them
// into its file and answers them in batches, in the order asked for.
struct ModelServer {
    explicit ModelServer(std::size_t size) : source(Pattern(size)) {}
    enum class EOrder { Sent, Reversed, Odd };
    EOrder order = EOrder::Sent;
    std::size_t window = 1 << 30;      // bytes the channel lets through now
    std::size_t windowStep = 1 << 30;  // what a read with nothing to answer opens it by
    int refuseNth = 0;                 // the nth write (1-based) is refused
    std::uint32_t refuseStatus = 4;
    std::uint32_t strayId = 0;  // answered once besides the real replies

    Bytes source;
    Bytes written;
    Bytes channel;                 // queued, not yet through the window
    std::vector<Bytes> arrived;    // through the window, not yet answered
    std::deque<Bytes> replies;
    int writes = 0;
    std::size_t inFlight = 0;
    std::size_t mostInFlight = 0;
    std::size_t mostQueued = 0;
    std::size_t reads = 0;
    std::vector<std::uint32_t> lengths;
    std::size_t fileAt = 0;
    std::vector<std::uint64_t> progress;

    void Pump()
    {
        while (channel.size() >= 4) {
            const std::uint32_t len = scp_load_u32(channel.data());
            if (channel.size() - 4 < len || window < len + 4) break;
            window -= len + 4;
            arrived.emplace_back(channel.begin() + 4, channel.begin() + 4 + len);
            channel.erase(channel.begin(), channel.begin() + 4 + len);
        }
    }

    void AnswerArrived()
    {
        std::vector<Bytes> batch;
        for (const auto& packet : arrived) batch.push_back(Answer(packet));
        arrived.clear();
        if (order == EOrder::Reversed) std::reverse(batch.begin(), batch.end());
        if (order == EOrder::Odd)
            std::stable_partition(batch.begin(), batch.end(), [](const Bytes& b) { return (b[4] & 1) != 0; });
        for (auto& b : batch) replies.push_back(b);
    }

    Bytes Answer(const Bytes& packet)
    {
        EXPECT_EQ(packet[0], SSH_FXP_WRITE);
        const std::uint32_t id = scp_load_u32(&packet[1]);
        const std::uint32_t handleLen = scp_load_u32(&packet[5]);
        std::size_t at = 9 + handleLen;
        std::uint64_t offset = (static_cast<std::uint64_t>(scp_load_u32(&packet[at])) << 32) | scp_load_u32(&packet[at + 4]);
        const std::uint32_t n = scp_load_u32(&packet[at + 8]);
        at += 12;
        EXPECT_EQ(packet.size(), at + n);
        lengths.push_back(n);
        ++writes;
        std::uint32_t status = 0;
        if (writes == refuseNth) {
            status = refuseStatus;
        } else {
            if (written.size() < offset + n) written.resize(offset + n);
            std::memcpy(written.data() + offset, &packet[at], n);
        }
        Bytes reply{SSH_FXP_STATUS};
        PutU32(reply, id);
        PutU32(reply, status);
        return reply;
    }
};

int Send(void* c, const std::uint8_t* data, std::size_t len)
{
    auto* m = static_cast<ModelServer*>(c);
    m->channel.insert(m->channel.end(), data, data + len);
    m->mostInFlight = std::max(m->mostInFlight, ++m->inFlight);
    m->mostQueued = std::max(m->mostQueued, m->channel.size());
    m->Pump();
    return 0;
}

std::size_t Queued(void* c) { return static_cast<ModelServer*>(c)->channel.size(); }

int Read(void* c, ScpBuf* body)
{
    auto* m = static_cast<ModelServer*>(c);
    ++m->reads;
    if (m->strayId) {
        Bytes stray{SSH_FXP_STATUS};
        PutU32(stray, m->strayId);
        PutU32(stray, 0);
        m->strayId = 0;
        m->replies.push_front(stray);
    }
    if (m->replies.empty()) {
        if (m->arrived.empty()) {
            m->window += m->windowStep;
            m->Pump();
        }
        m->AnswerArrived();
    }
    if (m->replies.empty()) return SCP_E_TIMED_OUT;  // a real session would wait to its limit
    const Bytes next = m->replies.front();
    m->replies.pop_front();
    --m->inFlight;
    body->len = 0;
    return scp_buf_put(body, next.data(), next.size());
}

int ReadFile(void* c, std::uint8_t* buffer, std::size_t want, std::size_t* got)
{
    auto* m = static_cast<ModelServer*>(c);
    *got = std::min(want, m->source.size() - m->fileAt);
    std::memcpy(buffer, m->source.data() + m->fileAt, *got);
    m->fileAt += *got;
    return 0;
}

void Progress(void* c, std::uint64_t done) { static_cast<ModelServer*>(c)->progress.push_back(done); }

int Write(ModelServer& m, const ScpSftpPlan& plan, ScpSftpWriteResult* result, std::uint32_t* nextId = nullptr)
{
    const ScpSftpIo io{&m, Send, Queued, Read, ReadFile, Progress};
    std::uint32_t id = 500;
    const std::uint8_t handle[] = {'h', '1'};
    // Each read finds whatever the channel has let through by then.
    return scp_sftp_write_file(&io, &plan, handle, sizeof handle, m.source.size(), nextId ? nextId : &id, result);
}

TEST(ScpSftpWriter, EveryByteArrivesWhateverTheReplyOrder)
{
    for (auto order : {ModelServer::EOrder::Sent, ModelServer::EOrder::Reversed, ModelServer::EOrder::Odd}) {
        ModelServer m(40 * 32768 + 123);
        m.order = order;
        m.window = 5 * 32768;  // a few writes at a time
        m.windowStep = 3 * 32768 + 100;
        ScpSftpWriteResult result{};
        ASSERT_EQ(Write(m, ScpSftpPlan{32768, 16}, &result), 0);
        EXPECT_EQ(m.written, m.source);
        EXPECT_EQ(result.acknowledged, m.source.size());
        ASSERT_FALSE(m.progress.empty());
        EXPECT_EQ(m.progress.back(), m.source.size());
        EXPECT_TRUE(std::is_sorted(m.progress.begin(), m.progress.end()));
    }
}

TEST(ScpSftpWriter, SizesAroundTheWriteLength)
{
    const struct {
        std::size_t size;
        std::vector<std::uint32_t> lengths;
    } cases[] = {
        {0, {}},
        {1, {1}},
        {32768, {32768}},
        {32769, {32768, 1}},
        {3 * 32768, {32768, 32768, 32768}},
    };
    for (const auto& c : cases) {
        ModelServer m(c.size);
        ScpSftpWriteResult result{};
        EXPECT_EQ(Write(m, ScpSftpPlan{32768, 64}, &result), 0) << c.size;
        EXPECT_EQ(m.lengths, c.lengths) << c.size;
        EXPECT_EQ(m.written, m.source) << c.size;
        EXPECT_EQ(m.reads, c.lengths.size()) << "one read per reply, none for an empty file";
    }
}

TEST(ScpSftpWriter, RequestsInFlightStayWithinTheLimits)
{
    // Many requests fit the window: the request limit bounds them.
    ModelServer m(100 * 4096);
    std::uint32_t id = 7;
    ScpSftpWriteResult result{};
    ASSERT_EQ(Write(m, ScpSftpPlan{4096, 8}, &result, &id), 0);
    EXPECT_EQ(m.mostInFlight, 8u);
    EXPECT_EQ(id, 7u + 100u) << "one fresh identifier per write";
    EXPECT_EQ(m.written, m.source);

    // One request at a time: each write is answered before the next goes.
    ModelServer single(5 * 4096 + 1);
    ASSERT_EQ(Write(single, scp_sftp_plan(1, nullptr), &result), 0);
    EXPECT_EQ(single.lengths, (std::vector<std::uint32_t>{4096, 4096, 4096, 4096, 4096, 1}));
    EXPECT_EQ(single.mostInFlight, 1u);
    EXPECT_EQ(single.written, single.source);
}

TEST(ScpSftpWriter, AWindowThatOpensSlowlyHoldsBackNewRequests)
{
    // The window lets about one write through per read: the writer must
    // not pile up requests behind it.
    ModelServer m(20 * 32768);
    m.window = 0;
    m.windowStep = 32768 + 40;
    ScpSftpWriteResult result{};
    ASSERT_EQ(Write(m, ScpSftpPlan{32768, 64}, &result), 0);
    EXPECT_EQ(m.written, m.source);
    EXPECT_LT(m.mostQueued, 2u * (32768 + 64)) << "at most one write waits behind one going out";
    EXPECT_LE(m.mostInFlight, 2u);
}

TEST(ScpSftpWriter, TheFirstRefusalStopsTheUploadWithItsOffset)
{
    for (auto order : {ModelServer::EOrder::Sent, ModelServer::EOrder::Reversed}) {
        ModelServer m(30 * 32768);
        m.order = order;
        m.refuseNth = 5;  // the fifth write in flight
        ScpSftpWriteResult result{};
        EXPECT_EQ(Write(m, ScpSftpPlan{32768, 8}, &result), SCP_E_WRITE);
        EXPECT_EQ(result.failedOffset, 4u * 32768);
        EXPECT_EQ(result.failedStatus, 4u);
        // No new request after the refusal came, and every one in flight was answered.
        EXPECT_LT(m.writes, 16);
        EXPECT_TRUE(m.replies.empty() && m.arrived.empty() && m.channel.empty());
        EXPECT_EQ(result.acknowledged, static_cast<std::uint64_t>(m.writes - 1) * 32768);
        ASSERT_GE(m.written.size(), 4u * 32768);
        EXPECT_TRUE(std::equal(m.source.begin(), m.source.begin() + 4 * 32768, m.written.begin()));
    }
}

TEST(ScpSftpWriter, AReplyToNoRequestInFlightIsRefused)
{
    ModelServer m(4 * 32768);
    m.strayId = 499;  // never sent (identifiers start at 500)
    ScpSftpWriteResult result{};
    EXPECT_EQ(Write(m, ScpSftpPlan{32768, 8}, &result), SCP_E_INTERNAL);
    // An identifier answered twice is a stray too.
    ModelServer twice(4 * 32768);
    twice.strayId = 500;
    twice.window = 0;
    twice.windowStep = 32768 + 40;
    EXPECT_NE(Write(twice, ScpSftpPlan{32768, 8}, &result), 0);
}

TEST(ScpSftpWriter, ALocalFileThatEndsEarlyFails)
{
    ModelServer m(100);
    const ScpSftpIo io{&m, Send, Queued, Read, ReadFile, nullptr};
    const ScpSftpPlan plan{32768, 8};
    std::uint32_t id = 1;
    ScpSftpWriteResult result{};
    const std::uint8_t handle[] = {'h'};
    EXPECT_EQ(scp_sftp_write_file(&io, &plan, handle, 1, 200, &id, &result), SCP_E_READ);
}

Bytes VersionPacket(std::uint32_t version, const std::vector<std::pair<std::string, std::string>>& extensions)
{
    Bytes b{SSH_FXP_VERSION};
    PutU32(b, version);
    for (const auto& [name, data] : extensions) {
        PutString(b, name);
        PutString(b, data);
    }
    return b;
}

TEST(ScpSftpWriter, VersionExtensionsAndLimits)
{
    ScpSftpVersion v{};
    Bytes plain = VersionPacket(3, {});
    ASSERT_EQ(scp_sftp_parse_version(plain.data(), plain.size(), &v), 0);
    EXPECT_EQ(v.version, 3u);
    EXPECT_FALSE(v.offersLimits);
    Bytes offered = VersionPacket(3, {{"posix-rename@openssh.com", "1"}, {"limits@openssh.com", "1"}});
    ASSERT_EQ(scp_sftp_parse_version(offered.data(), offered.size(), &v), 0);
    EXPECT_TRUE(v.offersLimits);
    // A name that only starts like it is another extension.
    Bytes longer = VersionPacket(3, {{"limits@openssh.com.x", "1"}});
    ASSERT_EQ(scp_sftp_parse_version(longer.data(), longer.size(), &v), 0);
    EXPECT_FALSE(v.offersLimits);
    // Cut anywhere inside an extension: damaged.
    for (std::size_t cut = plain.size() + 1; cut < offered.size(); ++cut) {
        if (cut == plain.size() + 4 + 24 + 4 + 1) continue;  // ends after the first pair
        EXPECT_EQ(scp_sftp_parse_version(offered.data(), cut, &v), SCP_E_RECEIVE) << cut;
    }
    Bytes wrongType = plain;
    wrongType[0] = SSH_FXP_STATUS;
    EXPECT_EQ(scp_sftp_parse_version(wrongType.data(), wrongType.size(), &v), SCP_E_RECEIVE);

    Bytes reply{SSH_FXP_EXTENDED_REPLY};
    PutU32(reply, 9);
    for (std::uint32_t value : {262144u, 261120u, 261120u, 4096u}) {
        PutU32(reply, 0);
        PutU32(reply, value);
    }
    ScpSftpLimits limits{};
    ASSERT_EQ(scp_sftp_parse_limits(reply.data(), reply.size(), 9, &limits), 0);
    EXPECT_EQ(limits.maxPacket, 262144u);
    EXPECT_EQ(limits.maxWrite, 261120u);
    EXPECT_EQ(limits.maxHandles, 4096u);
    EXPECT_EQ(scp_sftp_parse_limits(reply.data(), reply.size(), 8, &limits), SCP_E_RECEIVE) << "another request's reply";
    EXPECT_EQ(scp_sftp_parse_limits(reply.data(), reply.size() - 1, 9, &limits), SCP_E_RECEIVE);
    Bytes refused{SSH_FXP_STATUS};
    PutU32(refused, 9);
    PutU32(refused, 8);
    EXPECT_EQ(scp_sftp_parse_limits(refused.data(), refused.size(), 9, &limits), SCP_E_UNSUPPORTED);

    ScpBuf request{};
    ASSERT_EQ(scp_sftp_limits_request(&request, 9), 0);
    Bytes expected;
    PutU32(expected, 1 + 4 + 4 + 18);
    expected.push_back(SSH_FXP_EXTENDED);
    PutU32(expected, 9);
    PutString(expected, "limits@openssh.com");
    EXPECT_EQ(ToBytes(request), expected);
    scp_buf_free(&request);
}

TEST(ScpSftpWriter, PlanFollowsTheServersLimits)
{
    const ScpSftpPlan defaults = scp_sftp_plan(0, nullptr);
    EXPECT_EQ(defaults.writeLength, kScpSftpWriteLength);
    EXPECT_EQ(defaults.requests, kScpSftpRequests);
    const ScpSftpLimits openssh{262144, 261120, 261120, 4096};
    EXPECT_EQ(scp_sftp_plan(0, &openssh).writeLength, 261120u);
    // The packet limit bounds the write with its header and handle.
    const ScpSftpLimits tight{40000, 0, 1u << 20, 0};
    const ScpSftpPlan planTight = scp_sftp_plan(0, &tight);
    EXPECT_LE(planTight.writeLength + 4 + 1 + 4 + 4 + 256 + 8 + 4, 40000u);
    EXPECT_GT(planTight.writeLength, 32768u);
    // Huge or absurd figures are bounded both ways.
    const ScpSftpLimits huge{0, 0, 1ull << 40, 0};
    EXPECT_EQ(scp_sftp_plan(0, &huge).writeLength, kScpSftpLargestWrite);
    const ScpSftpLimits tiny{10, 0, 1, 0};
    EXPECT_EQ(scp_sftp_plan(0, &tiny).writeLength, 1024u);
    // The job's request setting: one keeps the old behaviour whatever the server says.
    EXPECT_EQ(scp_sftp_plan(1, &openssh).writeLength, 4096u);
    EXPECT_EQ(scp_sftp_plan(1, &openssh).requests, 1u);
    EXPECT_EQ(scp_sftp_plan(4, nullptr).requests, 4u);
    EXPECT_EQ(scp_sftp_plan(100000, nullptr).requests, kScpSftpRequests);
}

}  // namespace
