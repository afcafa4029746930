using System;
using System.Buffers.Binary;
using System.Collections.Generic;
using System.Linq;
using System.Text;
using Xunit;

namespace Corvane.Tests
{
    /// <summary>
    /// Loads of real NTFS volumes through the wrapper, against the native copy of the same
    /// catalogue, and the wrapper's answers in each state of the process-wide catalogue.
    /// </summary>
    public sealed unsafe class CatalogueTests : LoadingTests
    {
        public static IEnumerable<object[]> Images => Volumes.Built().Concat(new[]
        {
            Volumes.Made,
            "grr/ntfs_img.dd",
            "colinfinck-ntfs/testfs1",
            "dfir_ntfs/ntfs_index.raw",
            "donald/test.ntfs.dd",
            "tsk-test-data/7-ntfs-undel.dd",
            "tsk-test-data/8-jpeg-search.dd",
        }).Select(image => new object[] { image });

        private static ResultRecord[] LoadThroughWrapper(uint drive)
        {
            ulong count = 0;
            int status = MftClass.LoadMft(drive, ref count);
            Assert.True(status == 0, $"LoadMft: {status} {MftClass.GetMftMessage(status)}");
            Assert.True(count > 0);
            var records = new ResultRecord[count];
            Assert.Equal(0, MftClass.GetMft(records));
            return records;
        }

        private static string ExportText(ReadOnlySpan<byte> field)
        {
            var units = System.Runtime.InteropServices.MemoryMarshal.Cast<byte, char>(field);
            int end = units.IndexOf('\0');
            return new string(end < 0 ? units : units[..end]);
        }

        private static ResultRecord FromExport(ReadOnlySpan<byte> r) => new ResultRecord
        {
            parentId = BinaryPrimitives.ReadInt32LittleEndian(r),
            parentName = ExportText(r.Slice(4, 512)),
            id = BinaryPrimitives.ReadInt32LittleEndian(r[516..]),
            name = ExportText(r.Slice(520, 512)),
            allocatedSize = BinaryPrimitives.ReadInt64LittleEndian(r[1032..]),
            actualSize = BinaryPrimitives.ReadInt64LittleEndian(r[1040..]),
            creationTime = BinaryPrimitives.ReadInt64LittleEndian(r[1048..]),
            modificationTime = BinaryPrimitives.ReadInt64LittleEndian(r[1056..]),
            mftModificationTime = BinaryPrimitives.ReadInt64LittleEndian(r[1064..]),
            accessTime = BinaryPrimitives.ReadInt64LittleEndian(r[1072..]),
            flag = BinaryPrimitives.ReadInt32LittleEndian(r[1080..]),
        };

        private static ResultRecord[] LoadThroughNativeCopy(uint drive)
        {
            ulong count = 0;
            Assert.Equal(0, Native.LoadMft(drive, &count));
            var buffer = new byte[checked((int)count * Native.ExportSize)];
            fixed (byte* start = buffer)
            {
                Assert.Equal(0, Native.GetData(start));
            }

            return Enumerable.Range(0, (int)count)
                .Select(i => FromExport(buffer.AsSpan(i * Native.ExportSize, Native.ExportSize)))
                .ToArray();
        }

        [SkippableTheory]
        [MemberData(nameof(Images))]
        public void WrapperCopyEqualsTheNativeCopyFieldByField(string image)
        {
            uint drive = Mount(image);
            if (Volumes.IsBuilt(image))
            {
                // Some built volumes exist to make a load fail; the wrapper must then say what the library says.
                ulong count = 0;
                int status = MftClass.LoadMft(drive, ref count);
                if (status != 0)
                {
                    Native.Clear();
                    Assert.Equal(Native.LoadMft(drive, &count), status);
                    return;
                }

                Release();
            }

            ResultRecord[] managed = LoadThroughWrapper(drive);
            ResultRecord[] native = LoadThroughNativeCopy(drive);

            Assert.Equal(native.Length, managed.Length);
            for (int i = 0; i < managed.Length; i++)
            {
                Assert.NotNull(managed[i].name);
                Assert.NotNull(managed[i].parentName);
                // Whole-record equality compares all eleven fields; the index says where it broke.
                Assert.True(native[i].Equals(managed[i]), $"entry {i}: {managed[i].parentName}/{managed[i].name} differs from the native copy");
            }
        }

        [SkippableFact]
        public void NamesArriveWhole()
        {
            ResultRecord[] made = LoadThroughWrapper(Mount(Volumes.Made));
            Assert.Contains(made, r => r.name == Volumes.LongestName && r.parentName == ".");
            Assert.All(Volumes.PlainNames, n => Assert.Contains(made, r => r.name == n && r.parentName == "."));
        }

        [SkippableFact]
        public void TimesWithTheTopBitSetKeepTheirBits()
        {
            ResultRecord[] records = LoadThroughWrapper(Mount(Volumes.Made));
            Assert.NotEmpty(Volumes.PatchedTimeOffsets);

            ResultRecord entry = Assert.Single(records, r => r.name == Volumes.TopBitName);
            var times = new Dictionary<int, long>
            {
                [8] = entry.creationTime,
                [16] = entry.modificationTime,
                [24] = entry.mftModificationTime,
                [32] = entry.accessTime,
            };
            foreach (int offset in Volumes.PatchedTimeOffsets)
            {
                Assert.True(times[offset] < 0);
                Assert.Equal(Volumes.TopBitTime(offset), times[offset]);
            }
        }

        [SkippableFact]
        public void EmptyOrMismatchedArrayIsRefusedAndTheCatalogueStaysLoaded()
        {
            uint drive = Mount(Volumes.Made);
            ulong count = 0;
            Assert.Equal(0, MftClass.LoadMft(drive, ref count));

            Assert.Equal(-1, MftClass.GetMft(Array.Empty<ResultRecord>()));
            var tooLong = new ResultRecord[count + 1];
            tooLong[0].name = "kept";
            Assert.Equal(-1, MftClass.GetMft(tooLong));
            Assert.Equal("kept", tooLong[0].name);
            Assert.All(tooLong.Skip(1), r => Assert.Null(r.name));
            Assert.Equal(-1, MftClass.GetMft(new ResultRecord[count - 1]));

            var records = new ResultRecord[count];
            Assert.Equal(0, MftClass.GetMft(records));
            Assert.All(records, r => Assert.False(string.IsNullOrEmpty(r.name)));
        }

        [SkippableFact]
        public void SecondGetMftFailsAndLeavesTheArrayAsItWas()
        {
            uint drive = Mount(Volumes.Made);
            ResultRecord[] records = LoadThroughWrapper(drive);
            var before = (ResultRecord[])records.Clone();

            Assert.Equal(-100, MftClass.GetMft(records));
            Assert.Equal(before, records);

            // The catalogue was released, so the same drive loads again.
            Assert.Equal(before, LoadThroughWrapper(drive));
        }

        [SkippableFact]
        public void LoadOnALoadedCataloguePassesTheNativeRefusalThrough()
        {
            uint drive = Mount(Volumes.Made);
            ulong count = 0;
            Assert.Equal(0, MftClass.LoadMft(drive, ref count));

            ulong untouched = 424242;
            Assert.Equal(-100, MftClass.LoadMft(drive, ref untouched));
            Assert.Equal(424242UL, untouched);

            // The refused load did not disturb the count the wrapper checks against.
            Assert.Equal(0, MftClass.GetMft(new ResultRecord[count]));
        }

        [SkippableFact]
        public void CatalogueReleasedBehindTheWrapperGivesTheNativeStatus()
        {
            uint drive = Mount(Volumes.Made);
            ulong count = 0;
            Assert.Equal(0, MftClass.LoadMft(drive, ref count));
            Assert.Equal(0, Native.Clear());

            var records = new ResultRecord[count];
            records[0].id = 99;
            Assert.Equal(-100, MftClass.GetMft(records));
            Assert.Equal(99, records[0].id);
            Assert.All(records.Skip(1), r => Assert.Null(r.name));
        }

        [SkippableFact]
        public void FailedLoadReturnsTheNativeStatusAndLeavesTheCount()
        {
            const char unmapped = 'Q';
            Skip.IfNot(string.IsNullOrEmpty(Environment.GetEnvironmentVariable("TARNWICK_DRIVE_" + unmapped)));
            uint drive = unmapped - 'A';

            ulong nativeCount = 7;
            int nativeStatus = Native.LoadMft(drive, &nativeCount);
            ulong count = 7;
            int status = MftClass.LoadMft(drive, ref count);

            Assert.NotEqual(0, status);
            Assert.Equal(nativeStatus, status);
            Assert.Equal(7UL, count);
        }
    }
}
