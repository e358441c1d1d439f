// A scripted viewer for end-to-end tests and the agent benchmark: joins an
// agent directly or through the relay, then takes commands on standard input
// and reports every message from the agent on standard output, one line each.
//
//   orvane-test-client --cert FILE --password PW (--direct HOST:PORT | --relay HOST:PORT:ID)
//
// Commands: mouse A X Y W | key VK DOWN EXT | ping | pings N | cad | select N |
//           raw TYPE HEX | clip FILE | save-canvas FILE | save-clip FILE |
//           save-frame FILE (the payload of the next frame with tiles) | quit
// Reports:  auth ok | auth failed | relay refused | connect failed | tls failed
//           frame MS W H TILES BYTES [x,y,w,h ...] | monitors COUNT INDEX | pong MS |
//           clipboard BYTES | message TYPE BYTES | closed
// MS is milliseconds since the client started.
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "capture/frame_payload.h"
#include "net/message_io.h"

namespace {

struct Options {
    std::string cert, password, host, relay_id;
    int port = 0;
    bool relay = false;
};

struct Canvas {
    int width = 0, height = 0;
    std::vector<std::uint8_t> bgrx;
};

struct Client {
    SSL* ssl = nullptr;
    int fd = -1;
    Canvas canvas;
    std::vector<std::uint8_t> last_clip;
    std::string frame_path;  // where the next frame with tiles goes, if anywhere
    tjhandle jpeg = nullptr;
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point ping_sent;
};

long long elapsed_ms(const Client& c)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now() - c.start)
        .count();
}

bool split_host_port(const std::string& text, std::string& host, int& port, std::string* id)
{
    std::istringstream in(text);
    std::string port_text;
    if (!std::getline(in, host, ':') || !std::getline(in, port_text, ':'))
        return false;
    port = std::atoi(port_text.c_str());
    if (id && !std::getline(in, *id))
        return false;
    return port > 0;
}

bool parse_options(int argc, char** argv, Options& o)
{
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i], value = argv[i + 1];
        if (name == "--cert")
            o.cert = value;
        else if (name == "--password")
            o.password = value;
        else if (name == "--direct")
            split_host_port(value, o.host, o.port, nullptr);
        else if (name == "--relay")
            o.relay = split_host_port(value, o.host, o.port, &o.relay_id);
        else
            return false;
    }
    return !o.cert.empty() && o.port > 0;
}

int tcp_connect(const std::string& host, int port)
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(std::uint16_t(port));
    if (inet_pton(AF_INET, host.c_str(), &address.sin_addr) != 1 ||
        connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

// The relay's answer, read a byte at a time so TLS bytes behind it stay put.
bool relay_join(int fd, const std::string& id)
{
    const std::string request = "OVRELAY1 C " + id + "\n";
    if (send(fd, request.data(), request.size(), 0) != ssize_t(request.size()))
        return false;
    std::string line;
    char ch;
    while (recv(fd, &ch, 1, 0) == 1) {
        if (ch == '\n')
            return line == "OK";
        if (ch != '\r')
            line += ch;
    }
    return false;
}

void paint_tile(Client& c, const FrameTileView& tile)
{
    int width = 0, height = 0, subsampling = 0, colourspace = 0;
    if (tjDecompressHeader3(c.jpeg, tile.jpeg, tile.size, &width, &height, &subsampling,
                            &colourspace) != 0)
        return;
    std::vector<std::uint8_t> pixels(std::size_t(width) * height * 4);
    if (tjDecompress2(c.jpeg, tile.jpeg, tile.size, pixels.data(), width, 0, height, TJPF_BGRX,
                      0) != 0)
        return;
    const int cw = std::min({int(tile.w), width, c.canvas.width - tile.x});
    const int ch = std::min({int(tile.h), height, c.canvas.height - tile.y});
    for (int row = 0; row < ch; ++row)
        std::memcpy(&c.canvas.bgrx[(std::size_t(tile.y + row) * c.canvas.width + tile.x) * 4],
                    &pixels[std::size_t(row) * width * 4], std::size_t(std::max(cw, 0)) * 4);
}

void on_frame(Client& c, const Message& m)
{
    FrameReader reader;
    FrameHeader header;
    std::printf("frame %lld", elapsed_ms(c));
    if (!begin_frame(reader, m.payload, m.size, header)) {
        std::printf(" 0 0 0 %u\n", m.size);
        return;
    }
    if (header.width != c.canvas.width || header.height != c.canvas.height) {
        c.canvas.width = header.width;
        c.canvas.height = header.height;
        c.canvas.bgrx.assign(std::size_t(header.width) * header.height * 4, 0);
    }
    std::printf(" %u %u %u %u", header.width, header.height, header.count, m.size);
    FrameTileView tile;
    while (next_frame_tile(reader, tile)) {
        std::printf(" %u,%u,%u,%u", tile.x, tile.y, tile.w, tile.h);
        paint_tile(c, tile);
    }
    std::printf("\n");
    if (!c.frame_path.empty()) {
        std::ofstream(c.frame_path, std::ios::binary)
            .write(reinterpret_cast<const char*>(m.payload), std::streamsize(m.size));
        std::printf("saved %s\n", c.frame_path.c_str());
        c.frame_path.clear();
    }
}

void report(Client& c, const Message& m)
{
    switch (m.type) {
    case MSG_FRAME:
        on_frame(c, m);
        break;
    case MSG_MONITOR_INFO:
        if (m.size >= 2)
            std::printf("monitors %u %d\n", m.payload[0], int(std::int8_t(m.payload[1])));
        else
            std::printf("message %u %u\n", m.type, m.size);  // too short: let the test see it
        break;
    case MSG_PONG:
        std::printf("pong %lld\n", elapsed_ms(c));
        break;
    case MSG_CLIPBOARD:
        c.last_clip.assign(m.payload, m.payload + m.size);
        std::printf("clipboard %u\n", m.size);
        break;
    default:
        std::printf("message %u %u\n", m.type, m.size);
    }
    std::fflush(stdout);
}

std::vector<std::uint8_t> read_bytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void save_canvas(const Client& c, const std::string& path)
{
    std::ofstream out(path, std::ios::binary);
    out << "P6\n" << c.canvas.width << " " << c.canvas.height << "\n255\n";
    for (std::size_t i = 0; i + 4 <= c.canvas.bgrx.size(); i += 4) {
        const char rgb[3] = {char(c.canvas.bgrx[i + 2]), char(c.canvas.bgrx[i + 1]),
                             char(c.canvas.bgrx[i])};
        out.write(rgb, 3);
    }
}

bool send_hex(Client& c, int type, const std::string& hex)
{
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(std::uint8_t(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return send_msg(c.ssl, std::uint8_t(type), bytes.data(), bytes.size());
}

// False ends the client.
bool run_command(Client& c, const std::string& line)
{
    std::istringstream in(line);
    std::string command;
    in >> command;
    if (command == "mouse") {
        int action, x, y, wheel;
        in >> action >> x >> y >> wheel;
        const std::uint8_t p[7] = {std::uint8_t(action), std::uint8_t(x), std::uint8_t(x >> 8),
                                   std::uint8_t(y), std::uint8_t(y >> 8), std::uint8_t(wheel),
                                   std::uint8_t(wheel >> 8)};
        return send_msg(c.ssl, MSG_MOUSE, p, sizeof p);
    }
    if (command == "key") {
        int vk, down, extended;
        in >> vk >> down >> extended;
        const std::uint8_t p[4] = {std::uint8_t(vk), std::uint8_t(vk >> 8), std::uint8_t(down),
                                   std::uint8_t(extended)};
        return send_msg(c.ssl, MSG_KEY, p, sizeof p);
    }
    if (command == "ping") {
        c.ping_sent = std::chrono::steady_clock::now();
        return send_msg(c.ssl, MSG_PING, nullptr, 0);
    }
    if (command == "pings") {
        // In one TLS record, so they all wait at the agent together.
        int count = 0;
        in >> count;
        std::vector<std::uint8_t> burst;
        for (int i = 0; i < count; ++i) {
            std::uint8_t header[FRAME_HEADER_SIZE];
            encode_frame_header(header, MSG_PING, 0);
            burst.insert(burst.end(), header, header + sizeof header);
        }
        return burst.empty() || SSL_write(c.ssl, burst.data(), int(burst.size())) == int(burst.size());
    }
    if (command == "wire") {
        // Bytes through the socket, TLS records and all: what the wire carries.
        std::printf("wire %llu %llu\n",
                    static_cast<unsigned long long>(BIO_number_read(SSL_get_rbio(c.ssl))),
                    static_cast<unsigned long long>(BIO_number_written(SSL_get_wbio(c.ssl))));
        std::fflush(stdout);
        return true;
    }
    if (command == "cad")
        return send_msg(c.ssl, MSG_CTRL_ALT_DEL, nullptr, 0);
    if (command == "select") {
        int index;
        in >> index;
        const std::uint8_t byte = std::uint8_t(index);
        return send_msg(c.ssl, MSG_SELECT_MONITOR, &byte, 1);
    }
    if (command == "raw") {
        int type;
        std::string hex;
        in >> type >> hex;
        return send_hex(c, type, hex);
    }
    std::string path;
    in >> path;
    if (command == "clip") {
        const std::vector<std::uint8_t> payload = read_bytes(path);
        return send_msg(c.ssl, MSG_CLIPBOARD, payload.data(), payload.size());
    }
    if (command == "save-canvas") {
        save_canvas(c, path);
        std::printf("saved %s\n", path.c_str());
        std::fflush(stdout);
        return true;
    }
    if (command == "save-frame") {
        c.frame_path = path;
        return true;
    }
    if (command == "save-clip") {
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(c.last_clip.data()), std::streamsize(c.last_clip.size()));
        std::printf("saved %s\n", path.c_str());
        std::fflush(stdout);
        return true;
    }
    return command != "quit";
}

void serve(Client& c)
{
    std::string pending;
    for (;;) {
        if (SSL_pending(c.ssl) == 0) {
            pollfd fds[2] = {{0, POLLIN, 0}, {c.fd, POLLIN, 0}};
            if (poll(fds, 2, -1) < 0)
                return;
            if (fds[0].revents) {
                char buffer[4096];
                const ssize_t n = read(0, buffer, sizeof buffer);
                if (n <= 0)
                    return;
                pending.append(buffer, std::size_t(n));
                std::size_t end;
                while ((end = pending.find('\n')) != std::string::npos) {
                    const std::string line = pending.substr(0, end);
                    pending.erase(0, end + 1);
                    if (!run_command(c, line))
                        return;
                }
            }
            if (!fds[1].revents)
                continue;
        }
        Message m;
        if (!read_msg(c.ssl, m)) {
            std::printf("closed\n");
            return;
        }
        report(c, m);
        free_message(m);
    }
}

} // namespace

int main(int argc, char** argv)
{
    Options o;
    if (!parse_options(argc, argv, o)) {
        std::fprintf(stderr, "usage: orvane-test-client --cert FILE --password PW "
                             "(--direct HOST:PORT | --relay HOST:PORT:ID)\n");
        return 2;
    }
    setvbuf(stdout, nullptr, _IOLBF, 0);
    Client c;
    c.fd = tcp_connect(o.host, o.port);
    if (c.fd < 0) {
        std::printf("connect failed\n");
        return 1;
    }
    if (o.relay && !relay_join(c.fd, o.relay_id)) {
        std::printf("relay refused\n");
        return 1;
    }
    SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
    SSL_CTX_load_verify_locations(ctx, o.cert.c_str(), nullptr);
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
    c.ssl = SSL_new(ctx);
    SSL_set_fd(c.ssl, c.fd);
    if (SSL_connect(c.ssl) <= 0) {
        ERR_print_errors_fp(stderr);
        std::printf("tls failed\n");
        return 1;
    }
    Message reply;
    const bool ok = send_msg(c.ssl, MSG_AUTH, o.password.data(), o.password.size()) &&
                    read_msg(c.ssl, reply) && reply.type == MSG_AUTH_OK;
    free_message(reply);
    std::printf(ok ? "auth ok\n" : "auth failed\n");
    if (!ok)
        return 1;
    c.jpeg = tjInitDecompress();
    serve(c);
    tjDestroy(c.jpeg);
    SSL_shutdown(c.ssl);
    SSL_free(c.ssl);
    close(c.fd);
    SSL_CTX_free(ctx);
    return 0;
}
