package com.ulvex.qor.jni;

import static java.nio.charset.StandardCharsets.UTF_8;

import java.io.File;
import java.io.IOException;
import java.net.ServerSocket;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Comparator;
import java.util.List;
import java.util.Map;
import java.util.concurrent.TimeUnit;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
import java.util.stream.Stream;

/**
 * A temporary agent home, optionally served by a real qor-agent process on
 * two ephemeral loopback ports. Everything lives under the temporary
 * directory, which close() removes.
 */
final class AgentHome {
  static final String AGENT = System.getProperty("qor.test.agent");
  static final String QORCTL = System.getProperty("qor.test.qorctl");

  final Path dir;
  private Process agent;
  private int firstPort;
  private int secondPort;

  private AgentHome(Path dir) {
    this.dir = dir;
  }

  /** A home with no agent; the ports are free ones that nothing listens on. */
  static AgentHome withoutAgent() throws IOException {
    AgentHome home = new AgentHome(Files.createTempDirectory("qor-jni-"));
    home.firstPort = freePort();
    home.secondPort = freePort();
    return home;
  }

  /** A home served by qor-agent with the given policy set (JSON). */
  static AgentHome withAgent(String policiesJson) throws Exception {
    AgentHome home = new AgentHome(Files.createTempDirectory("qor-jni-"));
    try {
      home.start(policiesJson);
    } catch (Exception e) {
      home.close();
      throw e;
    }
    return home;
  }

  private void start(String policiesJson) throws Exception {
    if (AGENT == null) throw new IllegalStateException("qor.test.agent is not set");
    Path policies = dir.resolve("policies.json");
    Files.writeString(policies, policiesJson);
    Path portFile = dir.resolve("ports.txt");
    ProcessBuilder pb = new ProcessBuilder(AGENT, "--home", dir.toString(), "--policies",
        policies.toString(), "--first-port", "0", "--second-port", "0", "--foreground",
        "--port-file", portFile.toString(), "--log", dir.resolve("agent.log").toString());
    pb.redirectErrorStream(true);
    pb.redirectOutput(dir.resolve("agent.out").toFile());
    agent = pb.start();
    Pattern listening = Pattern.compile("listening first=(\\d+) second=(\\d+)");
    long deadline = System.nanoTime() + TimeUnit.SECONDS.toNanos(10);
    while (System.nanoTime() < deadline) {
      if (Files.exists(portFile)) {
        Matcher m = listening.matcher(Files.readString(portFile));
        if (m.find()) {
          firstPort = Integer.parseInt(m.group(1));
          secondPort = Integer.parseInt(m.group(2));
          return;
        }
      }
      if (!agent.isAlive()) break;
      Thread.sleep(5);
    }
    throw new IllegalStateException("qor-agent did not start: " + read("agent.out"));
  }

  int firstPort() {
    return firstPort;
  }

  int secondPort() {
    return secondPort;
  }

  /** Points the library at this home through the binding's settings. */
  void configureLibrary() {
    byte[] home = dir.toString().getBytes(UTF_8);
    byte[] first = Integer.toString(firstPort).getBytes(UTF_8);
    byte[] second = Integer.toString(secondPort).getBytes(UTF_8);
    check(JNI.setHome(home, home.length), "setHome");
    check(JNI.setFirstPort(first, first.length), "setFirstPort");
    check(JNI.setSecondPort(second, second.length), "setSecondPort");
  }

  private static void check(int result, String what) {
    if (result != 1) throw new IllegalStateException(what + " returned " + result);
  }

  Path file(String name) {
    return dir.resolve(name);
  }

  String read(String name) throws IOException {
    Path p = dir.resolve(name);
    return Files.exists(p) ? Files.readString(p) : "";
  }

  /** Runs qorctl against this home: its standard output, or an exception. */
  String qorctl(String... args) throws Exception {
    if (QORCTL == null) throw new IllegalStateException("qor.test.qorctl is not set");
    List<String> command = new ArrayList<>();
    command.add(QORCTL);
    command.addAll(List.of(args));
    ProcessBuilder pb = new ProcessBuilder(command);
    Map<String, String> env = pb.environment();
    env.put("QOR_HOME", dir.toString());
    env.put("QOR_FIRST_PORT", Integer.toString(firstPort));
    env.put("QOR_SECOND_PORT", Integer.toString(secondPort));
    File err = dir.resolve("qorctl.err").toFile();
    pb.redirectError(err);
    Process p = pb.start();
    p.getOutputStream().close();
    String out = new String(p.getInputStream().readAllBytes(), UTF_8);
    if (!p.waitFor(60, TimeUnit.SECONDS)) {
      p.destroyForcibly();
      throw new IllegalStateException("qorctl did not finish");
    }
    if (p.exitValue() != 0) {
      throw new IllegalStateException("qorctl " + String.join(" ", args) + " exited "
          + p.exitValue() + ": " + read("qorctl.err"));
    }
    return out;
  }

  private static int freePort() throws IOException {
    try (ServerSocket s = new ServerSocket(0)) {
      return s.getLocalPort();
    }
  }

  /** Stops the agent and removes the directory. */
  void close() throws Exception {
    if (agent != null) {
      agent.destroy();
      if (!agent.waitFor(10, TimeUnit.SECONDS)) agent.destroyForcibly().waitFor();
    }
    try (Stream<Path> walk = Files.walk(dir)) {
      walk.sorted(Comparator.reverseOrder()).forEach(p -> p.toFile().delete());
    }
  }
}
