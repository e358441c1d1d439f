#include "relay/server.hpp"

#include <algorithm>
#include <array>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <memory>
#include <random>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <asio.hpp>

#include "relay/ids.hpp"
#include "relay/log.hpp"
#include "relay/lookup_rate.hpp"
#include "relay/platform.hpp"
#include "relay/protocol.hpp"

namespace orvane::relay {
namespace {

using asio::ip::tcp;
using std::chrono::seconds;

// A request line must be complete this long after the connection is accepted.
constexpr seconds line_timeout{10};
// After a refusal or a peer's close we stop sending and read (and drop) what
// is still coming for a short while, so the last line we sent is not wiped
// out by a reset caused by unread input.
constexpr seconds linger_time{2};
constexpr std::size_t linger_byte_limit = 64 * 1024;
// A joined pair moves at most one chunk of this size each way at a time.
constexpr std::size_t pipe_buffer_bytes = 256 * 1024;
// Chunk buffers kept for reuse once handed back (4 MiB at most).
constexpr std::size_t max_spare_buffers = 16;
constexpr std::chrono::milliseconds accept_retry_delay{100};

enum class ConnState { reading_line, registered, joined, lingering, closed };

struct Relay;

struct Conn {
    Conn(Relay& relay_, tcp::socket socket_, asio::io_context& io)
        : relay(relay_), socket(std::move(socket_)), timer(io) {}

    Relay& relay;
    tcp::socket socket;
    asio::steady_timer timer;
    ConnState state = ConnState::reading_line;
    bool reading = false;           // one read-side operation at a time
    bool writing_to_peer = false;   // our last chunk is still going out
    std::string remote;             // "address:port", for log lines
    std::string address;            // for the per-address bound
    std::string lookup_key;         // the address, or its /64 for IPv6, for the lookup bound
    std::string id;                 // registered or joined ID
    std::shared_ptr<Conn> peer;
    std::array<char, max_line_bytes * 2> line{};
    std::size_t line_filled = 0;
    // While joined: the chunk read from this side on its way to the peer.
    // Held only while this side has data; an idle pair holds no buffer.
    std::unique_ptr<char[]> pipe_buffer;
    std::uint64_t piped_bytes = 0;          // read from this side while joined
    std::size_t lingered_bytes = 0;
};

using ConnPtr = std::shared_ptr<Conn>;

struct AddressCount {
    std::size_t open = 0;
    std::size_t refused = 0;   // refusals since the last log line about them
};

struct Relay {
    Relay(asio::io_context& io_, const Options& options_, std::string version_)
        : io(io_), acceptor(io_), accept_timer(io_), signals(io_, SIGINT, SIGTERM),
          options(options_), version(std::move(version_)), rng(seeded_rng()) {}

    asio::io_context& io;
    tcp::acceptor acceptor;
    asio::steady_timer accept_timer;
    asio::signal_set signals;
    Options options;
    std::string version;
    std::mt19937_64 rng;
    std::unordered_map<Conn*, ConnPtr> conns;            // every open connection
    IdTable<ConnPtr> ids;   // registered (idle) agents and IDs in a session
    std::unordered_map<std::string, AddressCount> per_address;
    LookupLimiter lookups;
    std::vector<std::unique_ptr<char[]>> spare_buffers;   // chunk buffers between uses
    std::size_t refused_while_full = 0;
    std::size_t accept_failures = 0;
};

void pump(ConnPtr c);

// One IPv6 host usually holds a whole /64, so the lookup bound counts by it;
// an IPv4 peer on a dual-stack listener counts by its IPv4 address.
std::string lookup_key(const asio::ip::address& address) {
    if (address.is_v4()) return address.to_string();
    const asio::ip::address_v6 v6 = address.to_v6();
    if (v6.is_v4_mapped()) return asio::ip::make_address_v4(asio::ip::v4_mapped, v6).to_string();
    asio::ip::address_v6::bytes_type bytes = v6.to_bytes();
    std::fill(bytes.begin() + 8, bytes.end(), 0);
    return asio::ip::make_address_v6(bytes).to_string() + "/64";
}

std::string describe(const tcp::endpoint& endpoint) {
    const auto address = endpoint.address();
    std::string text = address.is_v6() ? "[" + address.to_string() + "]" : address.to_string();
    return text + ":" + std::to_string(endpoint.port());
}

// Short answers go out at once: the socket's send buffer is empty or nearly
// so when we answer, and writing synchronously keeps them from interleaving
// with piped data.
bool send_now(Conn& c, std::string_view text) {
    asio::error_code ec;
    const std::size_t sent = c.socket.write_some(asio::buffer(text.data(), text.size()), ec);
    return !ec && sent == text.size();
}

void release_address(Relay& r, const std::string& address) {
    auto it = r.per_address.find(address);
    if (it == r.per_address.end()) return;
    if (--it->second.open == 0) {
        if (it->second.refused > 0) {
            log_line("address " + address + ": " + std::to_string(it->second.refused) +
                     " connections refused at the per-address limit");
        }
        r.per_address.erase(it);
    }
}

// Not zero-filled: a chunk buffer is always read into before it is sent.
void take_buffer(Conn& c) {
    Relay& r = c.relay;
    if (c.pipe_buffer) return;
    if (r.spare_buffers.empty()) {
        c.pipe_buffer.reset(new char[pipe_buffer_bytes]);
        return;
    }
    c.pipe_buffer = std::move(r.spare_buffers.back());
    r.spare_buffers.pop_back();
}

// Hands the chunk buffer back, unless a write from it is still in flight
// (its completion hands it back then).
void give_back_buffer(Conn& c) {
    Relay& r = c.relay;
    if (!c.pipe_buffer || c.writing_to_peer) return;
    if (r.spare_buffers.size() < max_spare_buffers) r.spare_buffers.push_back(std::move(c.pipe_buffer));
    c.pipe_buffer.reset();
}

void close_conn(ConnPtr c, std::string_view why = {}) {
    if (c->state == ConnState::closed) return;
    Relay& r = c->relay;
    if (!why.empty()) log_line(std::string(why));
    if (c->state == ConnState::registered) {
        auto it = r.ids.registered.find(c->id);
        if (it != r.ids.registered.end() && it->second == c) r.ids.registered.erase(it);
    }
    c->state = ConnState::closed;
    give_back_buffer(*c);
    asio::error_code ignored;
    c->socket.close(ignored);
    c->timer.cancel();
    c->peer.reset();
    release_address(r, c->address);
    r.conns.erase(c.get());
}

// Stops sending, drains what the other end still sends, then closes.
void start_linger(ConnPtr c) {
    if (c->state == ConnState::closed || c->state == ConnState::lingering) return;
    Relay& r = c->relay;
    if (c->state == ConnState::registered) {
        auto it = r.ids.registered.find(c->id);
        if (it != r.ids.registered.end() && it->second == c) r.ids.registered.erase(it);
    }
    c->state = ConnState::lingering;
    give_back_buffer(*c);
    c->peer.reset();
    asio::error_code ignored;
    c->socket.shutdown(tcp::socket::shutdown_send, ignored);
    c->timer.expires_after(linger_time);
    c->timer.async_wait([c](const asio::error_code& ec) {
        if (!ec && c->state == ConnState::lingering) close_conn(c);
    });
    pump(c);
}

// Sends a final answer line and closes the connection gracefully.
void finish(ConnPtr c, std::string_view answer, std::string_view why = {}) {
    if (!why.empty()) log_line(std::string(why));
    send_now(*c, answer);
    start_linger(c);
}

// One side of a pipe has closed or failed: close it and let the other drain.
void end_pipe(ConnPtr c, std::string_view reason) {
    if (c->state != ConnState::joined) return;
    const ConnPtr peer = c->peer;
    std::string text = "close id=" + c->id + " " + c->remote + " " + std::string(reason);
    if (peer) {
        text += "; bytes " + c->remote + "->" + peer->remote + "=" + std::to_string(c->piped_bytes) +
                " " + peer->remote + "->" + c->remote + "=" + std::to_string(peer->piped_bytes);
    }
    c->relay.ids.end_session(c->id);
    close_conn(c, text);
    if (peer && peer->state == ConnState::joined) start_linger(peer);
}

// asio's stock completion conditions hand the socket at most 64 KiB per
// write; passing the whole chunk saves a system call and a trip through the
// event loop per 64 KiB.
struct WholeChunk {
    std::size_t size;
    std::size_t operator()(const asio::error_code& ec, std::size_t sent) const {
        return ec ? 0 : size - sent;
    }
};

void forward(ConnPtr c, std::size_t n) {
    const ConnPtr peer = c->peer;
    if (!peer || peer->state != ConnState::joined) {
        end_pipe(c, "peer gone");
        return;
    }
    c->writing_to_peer = true;
    asio::async_write(peer->socket, asio::buffer(c->pipe_buffer.get(), n), WholeChunk{n},
                      [c, peer](const asio::error_code& ec, std::size_t) {
                          c->writing_to_peer = false;
                          if (c->state != ConnState::joined) {
                              give_back_buffer(*c);
                              pump(c);
                              return;
                          }
                          if (ec) {
                              end_pipe(peer, "write failed: " + ec.message());
                              return;
                          }
                          pump(c);
                      });
}

// Reads the next chunk once the last one is out. When this side has nothing
// more, the buffer goes back and we wait until it has.
void pipe_read(ConnPtr c) {
    if (c->writing_to_peer) return;
    take_buffer(*c);
    asio::error_code ec;
    const std::size_t n = c->socket.read_some(asio::buffer(c->pipe_buffer.get(), pipe_buffer_bytes), ec);
    if (ec == asio::error::would_block) {
        give_back_buffer(*c);
        c->reading = true;
        c->socket.async_wait(tcp::socket::wait_read, [c](const asio::error_code& wait_ec) {
            c->reading = false;
            if (wait_ec && c->state == ConnState::joined) {
                end_pipe(c, "read failed: " + wait_ec.message());
                return;
            }
            pump(c);
        });
        return;
    }
    if (ec) {
        end_pipe(c, ec == asio::error::eof ? "closed" : "read failed: " + ec.message());
        return;
    }
    c->piped_bytes += n;
    forward(c, n);
}

void on_linger_read(ConnPtr c, const asio::error_code& ec, std::size_t n) {
    if (c->state != ConnState::lingering) return;
    c->lingered_bytes += n;
    if (ec || c->lingered_bytes > linger_byte_limit) close_conn(c);
    else pump(c);
}

void join(ConnPtr viewer, ConnPtr agent, std::string_view early_bytes) {
    Relay& r = viewer->relay;
    r.ids.registered.erase(agent->id);
    agent->state = ConnState::joined;
    if (!send_now(*agent, answer_ok)) {
        close_conn(agent, "close id=" + agent->id + " " + agent->remote + " agent gone at join");
        finish(viewer, answer_not_online);
        return;
    }
    viewer->state = ConnState::joined;
    viewer->id = agent->id;
    viewer->peer = agent;
    agent->peer = viewer;
    r.ids.start_session(agent->id);
    log_line("join id=" + agent->id + " agent=" + agent->remote + " viewer=" + viewer->remote);
    if (!send_now(*viewer, answer_ok)) {
        end_pipe(viewer, "viewer gone at join");
        return;
    }
    if (!early_bytes.empty()) {
        // Bytes the viewer sent right behind its request belong to the pipe.
        take_buffer(*viewer);
        std::copy(early_bytes.begin(), early_bytes.end(), viewer->pipe_buffer.get());
        viewer->piped_bytes += early_bytes.size();
        forward(viewer, early_bytes.size());
    } else {
        pump(viewer);
    }
    pump(agent);
}

void handle_register(ConnPtr c, const Request& request, std::string_view early_bytes) {
    Relay& r = c->relay;
    if (!early_bytes.empty()) {
        finish(c, answer_unexpected_data, "refuse " + c->remote + ": data after register request");
        return;
    }
    std::string id = request.id;
    if (id.empty()) {
        auto fresh = r.ids.assign(r.rng);
        if (!fresh) {
            finish(c, answer_no_free_id, "refuse " + c->remote + ": no free id");
            return;
        }
        id = *fresh;
    } else if (r.ids.registered.count(id) > 0) {
        // Only a live registration blocks an ID asked for by name. One in a
        // session does not: its agent registers again as the session ends,
        // and its old pipe's close may not have been handled yet.
        finish(c, answer_id_in_use, "refuse register id=" + id + " " + c->remote + ": id in use");
        return;
    }
    if (!send_now(*c, id_answer(id))) {
        close_conn(c, "close " + c->remote + ": could not answer register");
        return;
    }
    c->id = id;
    c->state = ConnState::registered;
    r.ids.registered.emplace(id, c);
    log_line("register id=" + id + " agent=" + c->remote);
    pump(c);
}

// Connect and status requests tell whether an ID is online: each address
// gets a bounded number of them a minute. False (and answered) when over it.
bool allow_lookup(ConnPtr c) {
    Relay& r = c->relay;
    const LookupVerdict verdict = take_lookup(r.lookups, c->lookup_key, LookupClock::now());
    if (verdict.refused_before > 0) {
        log_line("address " + c->lookup_key + ": " + std::to_string(verdict.refused_before) +
                 " lookups were refused over the bound");
    }
    if (verdict.allowed) return true;
    if (verdict.first_refusal) {
        log_line("address " + c->lookup_key + " is over the lookup bound (" +
                 std::to_string(r.options.max_lookups) +
                 " a minute); refusing its connect and status requests");
    }
    finish(c, answer_too_many_lookups);
    return false;
}

void handle_request(ConnPtr c, const Request& request, std::string_view early_bytes) {
    Relay& r = c->relay;
    if ((request.verb == Verb::status || request.verb == Verb::connect) && !allow_lookup(c)) return;
    switch (request.verb) {
        case Verb::version:
            finish(c, version_answer(r.version));
            return;
        case Verb::status:
            finish(c, r.ids.registered.count(request.id) ? answer_online : answer_offline);
            return;
        case Verb::register_id:
            handle_register(c, request, early_bytes);
            return;
        case Verb::connect: {
            auto it = r.ids.registered.find(request.id);
            if (it == r.ids.registered.end()) {
                finish(c, answer_not_online,
                       "refuse connect id=" + request.id + " " + c->remote + ": offline");
                return;
            }
            join(c, it->second, early_bytes);
            return;
        }
    }
}

void on_line_read(ConnPtr c, const asio::error_code& ec, std::size_t n) {
    if (c->state != ConnState::reading_line) return;
    if (ec) {
        close_conn(c, "close " + c->remote + ": closed before a request");
        return;
    }
    c->line_filled += n;
    const std::string_view received(c->line.data(), c->line_filled);
    const LineScan scan = scan_line(received);
    if (scan.status == LineStatus::incomplete) {
        pump(c);
        return;
    }
    c->timer.cancel();
    if (scan.status == LineStatus::too_long) {
        finish(c, answer_line_too_long, "refuse " + c->remote + ": line too long");
        return;
    }
    const ParseResult parsed = parse_request(received.substr(0, scan.length));
    if (parsed.error != ParseError::none) {
        finish(c, error_answer(parsed.error),
               "refuse " + c->remote + ": " + std::string(error_name(parsed.error)));
        return;
    }
    handle_request(c, parsed.request, received.substr(scan.length + 1));
}

void on_registered_readable(ConnPtr c, const asio::error_code& ec) {
    if (c->state != ConnState::registered) {
        pump(c);   // joined meanwhile: the pipe takes over reading
        return;
    }
    if (ec) {
        close_conn(c, "close id=" + c->id + " agent=" + c->remote + " " + ec.message());
        return;
    }
    char probe[1];
    asio::error_code read_ec;
    const std::size_t n = c->socket.read_some(asio::buffer(probe), read_ec);
    if (read_ec == asio::error::would_block) {
        pump(c);
    } else if (read_ec) {
        close_conn(c, "close id=" + c->id + " agent=" + c->remote + " " +
                          (read_ec == asio::error::eof ? std::string("closed") : read_ec.message()));
    } else if (n > 0) {
        finish(c, answer_unexpected_data,
               "close id=" + c->id + " agent=" + c->remote + " sent data before a viewer joined");
    }
}

void pump(ConnPtr c) {
    if (c->reading) return;
    switch (c->state) {
        case ConnState::reading_line:
            c->reading = true;
            c->socket.async_read_some(
                asio::buffer(c->line.data() + c->line_filled, c->line.size() - c->line_filled),
                [c](const asio::error_code& ec, std::size_t n) {
                    c->reading = false;
                    on_line_read(c, ec, n);
                });
            return;
        case ConnState::registered:
            c->reading = true;
            c->socket.async_wait(tcp::socket::wait_read, [c](const asio::error_code& ec) {
                c->reading = false;
                on_registered_readable(c, ec);
            });
            return;
        case ConnState::joined:
            pipe_read(c);
            return;
        case ConnState::lingering:
            c->reading = true;
            c->socket.async_read_some(asio::buffer(c->line),
                                      [c](const asio::error_code& ec, std::size_t n) {
                                          c->reading = false;
                                          on_linger_read(c, ec, n);
                                      });
            return;
        case ConnState::closed:
            return;
    }
}

// Over a bound: say so in one line and close at once, spending nothing more.
void refuse_at_once(tcp::socket& socket) {
    asio::error_code ignored;
    socket.non_blocking(true, ignored);
    socket.write_some(asio::buffer(answer_server_full.data(), answer_server_full.size()), ignored);
    socket.close(ignored);
}

bool over_limits(Relay& r, const std::string& address, const std::string& remote) {
    if (r.conns.size() >= r.options.max_connections) {
        if (r.refused_while_full++ == 0) {
            log_line("connection limit reached (" + std::to_string(r.options.max_connections) +
                     " open); refusing new connections, first " + remote);
        }
        return true;
    }
    if (r.refused_while_full > 0) {
        log_line("below the connection limit again; " + std::to_string(r.refused_while_full) +
                 " connections were refused");
        r.refused_while_full = 0;
    }
    if (r.options.max_per_address == 0) return false;
    auto it = r.per_address.find(address);
    if (it == r.per_address.end() || it->second.open < r.options.max_per_address) return false;
    if (it->second.refused++ == 0) {
        log_line("address " + address + " reached the per-address limit (" +
                 std::to_string(r.options.max_per_address) + "); refusing its new connections");
    }
    return true;
}

void admit(Relay& r, tcp::socket socket) {
    asio::error_code ec;
    const tcp::endpoint endpoint = socket.remote_endpoint(ec);
    if (ec) return;   // already gone; the socket closes with this scope
    const std::string address = endpoint.address().to_string();
    const std::string remote = describe(endpoint);
    if (over_limits(r, address, remote)) {
        refuse_at_once(socket);
        return;
    }
    socket.non_blocking(true, ec);
    socket.set_option(tcp::no_delay(true), ec);
    enable_keepalive(socket);
    auto c = std::make_shared<Conn>(r, std::move(socket), r.io);
    c->remote = remote;
    c->address = address;
    c->lookup_key = lookup_key(endpoint.address());
    r.conns.emplace(c.get(), c);
    r.per_address[address].open++;
    c->timer.expires_after(line_timeout);
    c->timer.async_wait([c](const asio::error_code& timer_ec) {
        if (timer_ec || c->state != ConnState::reading_line) return;
        finish(c, "ERR timeout\n", "refuse " + c->remote + ": no request line within 10 s");
    });
    pump(c);
}

void accept_next(Relay& r) {
    r.acceptor.async_accept([&r](const asio::error_code& ec, tcp::socket socket) {
        if (!r.acceptor.is_open()) return;
        if (ec) {
            // Out of descriptors or memory: back off instead of spinning.
            if (r.accept_failures++ == 0) log_line("accept failed: " + ec.message());
            r.accept_timer.expires_after(accept_retry_delay);
            r.accept_timer.async_wait([&r](const asio::error_code& timer_ec) {
                if (!timer_ec) accept_next(r);
            });
            return;
        }
        if (r.accept_failures > 0) {
            log_line("accepting again after " + std::to_string(r.accept_failures) + " failures");
            r.accept_failures = 0;
        }
        admit(r, std::move(socket));
        accept_next(r);
    });
}

void stop(Relay& r) {
    log_line("stopping; closing " + std::to_string(r.conns.size()) + " connections");
    asio::error_code ignored;
    r.acceptor.close(ignored);
    r.accept_timer.cancel();
    std::vector<ConnPtr> open;
    for (auto& entry : r.conns) open.push_back(entry.second);
    for (auto& c : open) close_conn(c);
    r.ids.registered.clear();
    r.ids.in_session.clear();
}

bool open_listener(Relay& r) {
    asio::error_code ec;
    const auto address = asio::ip::make_address(r.options.host, ec);
    if (ec) {
        log_line("bad listen address " + r.options.host + ": " + ec.message());
        return false;
    }
    const tcp::endpoint endpoint(address, r.options.port);
    r.acceptor.open(endpoint.protocol(), ec);
#ifndef _WIN32
    // On Windows this option would let another process take the port.
    if (!ec) r.acceptor.set_option(tcp::acceptor::reuse_address(true), ec);
#endif
    if (!ec) r.acceptor.bind(endpoint, ec);
    if (!ec) r.acceptor.listen(asio::socket_base::max_listen_connections, ec);
    if (ec) {
        log_line("cannot listen on " + describe(endpoint) + ": " + ec.message());
        return false;
    }
    log_line("listening on " + describe(r.acceptor.local_endpoint(ec)));
    return true;
}

}  // namespace

int run_relay(const Options& options, const std::string& version) {
    asio::io_context io(1);
    Relay relay(io, options, version);
    relay.lookups.per_minute = options.max_lookups;
    const std::size_t budget = connection_budget();
    if (relay.options.max_connections > budget) {
        log_line("connection limit lowered from " + std::to_string(relay.options.max_connections) +
                 " to " + std::to_string(budget) + " to fit the open-file limit");
        relay.options.max_connections = budget;
    }
    if (!open_listener(relay)) return 1;
    log_line("started " + version + ", at most " + std::to_string(relay.options.max_connections) +
             " connections, " +
             (relay.options.max_per_address ? std::to_string(relay.options.max_per_address)
                                            : std::string("unlimited")) +
             " per address, " +
             (relay.options.max_lookups ? std::to_string(relay.options.max_lookups)
                                        : std::string("unlimited")) +
             " lookups a minute per address");
    relay.signals.async_wait([&relay](const asio::error_code& ec, int) {
        if (!ec) stop(relay);
    });
    accept_next(relay);
    io.run();
    return 0;
}

}  // namespace orvane::relay
