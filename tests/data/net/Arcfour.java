// Reference for the packet cipher: the JDK's own ARCFOUR (RC4) and Base64, independent of the
// library's code. Run by tests/net/test_enc.cpp as a single-file program:
//
//   java Arcfour.java <key file> <bodies file> <output file>
//
// The key is the packet_key line of the key file (all 128 characters key the cipher). The
// bodies file holds records of a 4-byte little-endian length and that many bytes; for each
// body the output gets one line: Base64(ARCFOUR(key, body)), with a fresh key schedule per
// body. An empty body gives an empty line.
import java.io.*;
import java.nio.charset.StandardCharsets;
import java.nio.file.*;
import java.util.Base64;
import javax.crypto.Cipher;
import javax.crypto.spec.SecretKeySpec;

public class Arcfour {
  public static void main(String[] args) throws Exception {
    byte[] key = null;
    for (String line : Files.readAllLines(Paths.get(args[0]), StandardCharsets.US_ASCII)) {
      if (line.startsWith("packet_key=")) key = line.substring("packet_key=".length()).getBytes(StandardCharsets.US_ASCII);
    }
    if (key == null) throw new IllegalArgumentException("no packet_key line");
    SecretKeySpec keySpec = new SecretKeySpec(key, "ARCFOUR");
    byte[] all = Files.readAllBytes(Paths.get(args[1]));
    StringBuilder out = new StringBuilder();
    int pos = 0;
    while (pos + 4 <= all.length) {
      int n = (all[pos] & 0xFF) | (all[pos + 1] & 0xFF) << 8 | (all[pos + 2] & 0xFF) << 16 | (all[pos + 3] & 0xFF) << 24;
      pos += 4;
      byte[] body = java.util.Arrays.copyOfRange(all, pos, pos + n);
      pos += n;
      Cipher c = Cipher.getInstance("ARCFOUR");
      c.init(Cipher.ENCRYPT_MODE, keySpec);
      byte[] enc = n == 0 ? new byte[0] : c.doFinal(body);
      out.append(Base64.getEncoder().encodeToString(enc)).append('\n');
    }
    Files.write(Paths.get(args[2]), out.toString().getBytes(StandardCharsets.US_ASCII));
  }
}
